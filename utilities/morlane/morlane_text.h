// Morlane's text rules: its command line, its data file's records, and the replacement
// of a recorded drive path by the CD-ROM drive's root.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

const std::size_t kMaxMorlaneCommandLine = 259;
// The data file's lines are read in pieces of at most this many characters.
const std::size_t kMaxRecordLine = 518;

struct MorlaneArguments
{
    std::string first;       // record mode: the late bind text; apply mode: the data file
    std::string second;      // record mode: the data file
    std::string machineKey;  // /m: where the walk starts below HKEY_LOCAL_MACHINE
    std::string userKey;     // /u: where it starts below HKEY_CURRENT_USER
    bool log = false;        // /l
    bool record = false;     // a parameter that begins with /t: record mode ("-t" is not)
    bool tooLong = false;    // the command line is over its 259 characters (parsed all the same)
    std::vector<std::string> messages;  // parse problems after /l was read: only those are logged
};

// Taken from a lower-cased copy of the command line.
MorlaneArguments ParseMorlaneCommandLine(const std::string& commandLine);

// Record mode: a parameter that begins with "/t" or "/T" ("-t" is not; a "/T" inside a
// path such as C:/TEMP/LATE.TXT is not either).
bool IsRecordMode(const std::string& commandLine);

struct DriveReference
{
    bool machine = false;  // HKEY_LOCAL_MACHINE, else HKEY_CURRENT_USER
    std::string keyPath;   // below the hive
    std::string valueName;
    std::string text;      // lower case, its first character set to "c"
};

// The three lines of a record, as written to the data file.
std::vector<std::string> FormatDriveReferenceRecord(const std::string& hiveName, const std::string& keyPath,
                                                    const std::string& valueName, const std::string& lateBindText);

// One record read back; FALSE when it is malformed (no "HKEY" in the key line, or an
// empty text). An empty value name is the key's default value.
bool ParseDriveReferenceRecord(const std::string& keyLine, const std::string& valueName, const std::string& text,
                               DriveReference& reference);

// What the data file holds: its records up to the end of the file, to a line after a
// record that does not begin with "H", to the first incomplete or malformed record, or
// to a read that failed.
struct DriveReferenceFile
{
    std::vector<DriveReference> records;  // the well-formed records before that, in file order
    bool invalid = false;                 // an incomplete or malformed record ended the reading
    bool readFailed = false;              // a read failed: what follows in the file is unknown
    std::string keyLine;                  // that record's lines as read, for the log
    std::string valueName;
    std::string text;
};

// What reading the next line of the data file gave.
enum class DataLine { Read, End, Failed };

// Reads the data file through readLine, one record of three lines after the other, and
// no further than the records go. A failed read is no end of the file.
DriveReferenceFile ReadDriveReferenceFile(const std::function<DataLine(std::string&)>& readLine);

// Replaces the recorded text in the data by the CD-ROM root: the text's first character
// is tried as each drive letter from c to i, and the first letter that matches anything
// is used (every occurrence, case ignored); then a root followed by a second backslash
// loses it. Everything else keeps its letter case. The letter used, or 0 when none
// matched (the data is then unchanged); repairedDouble tells whether a backslash went.
char ReplaceLateBindText(std::string& data, const std::string& text, const std::string& root, bool& repairedDouble);

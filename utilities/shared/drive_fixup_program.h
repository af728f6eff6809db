// What the two drive fix-up utilities share: their log (a banner once per run, then one
// message per line), the usage report and the error report (each ends the program), the
// development-mode marker, the drive search, the variable replacement with its verbose
// lines, and the replacement of the edited file that keeps a backup and never loses it.
#pragma once

#include "drive_fixup_command_line.h"

#include <functional>
#include <string>

struct DriveFixupTexts
{
    const char* banner;            // "HOBRINT.EXE - Version A01"
    const char* logPath;           // "C:\VELK\HOBRINT.LOG"
    const char* usageTitle;        // "HOBRINT - Usage"
    const char* usageText;         // lines joined by "\n"; "%s" banner, then "%s" log path
    const char* verboseTitle;      // error box title in verbose mode
    const char* developmentTitle;  // error box title in development mode
    const char* movedText;         // "File successfully created: %s"
    const char* failedMoveText;    // the last error report: "...Examine %s for issues."
    const char* openFailedText;    // "Unable To Open File: %s" (the file)
    const char* createFailedText;  // "Unable To Create File: %s" (the temporary file)
    const char* readFailedText;    // the file could not be read to its end
    const char* writeFailedText;   // the temporary file could not be written
    const char* startLine;         // "\nHOBRINT.EXE - Commencing Operations: %s"
    const char* settings[3];       // the settings lines of the start block
};

// Thrown by the reports that end the program; the program returns the code.
struct CProgramExit
{
    int code;
};

class CDriveFixupProgram
{
public:
    explicit CDriveFixupProgram(const DriveFixupTexts& texts);

    // Appends the message (at most 2047 characters) to the log, with a line end unless
    // it ends in one; the banner first when nothing was written yet in this run.
    void LogLine(const std::string& message);
    // Logs the message when there is one, shows the usage box, ends with exit code 1.
    [[noreturn]] void ShowUsage(const std::string& message);
    // Logs the message, shows it in verbose or development mode, ends with exit code 1.
    [[noreturn]] void ReportError(const std::string& message);
    // Development mode when "C:\VELK.SDR" says the machine comes from TEST, PROTO or SV.
    void DetectDevelopmentMode();
    // The letter of the first fixed drive holding the path (a backslash first, no drive),
    // or, in first-available mode, the first writable fixed drive after C: ("C" when
    // there is none). 0 when nothing was found.
    char FindDriveForFile(const std::string& path, bool firstAvailable);
    void ReplaceDriveVariable(std::string& line, const std::string& pattern, char letter);
    // The start block of verbose and development mode: the start line with the time,
    // then the settings lines with the three parameters.
    void LogStartBlock(const DriveFixupArguments& arguments);
    void HideLog();

    // Changes the line in place; TRUE when it changed.
    typedef std::function<bool(std::string& line)> LineFixup;
    // Rewrites the file through tempPath, every line (in pieces of 1023 characters, each
    // with its own line break) through fixup. Nothing changed: the temporary file goes
    // and the file stays as it is. Otherwise the rewrite takes the file's place as the
    // engine's run list is replaced (on the 9x family the file stands at asidePath until
    // its rewrite stands), and the previous contents stay under backupPath: the file is
    // never missing, also when the backup cannot be made, and when the last step fails
    // the file is as it was, its attributes included. A file that a cut left aside is put
    // back first, by the engine's rule. oldBackupFailure: the log line when the old backup
    // cannot be deleted (or none).
    void FixupFile(const std::string& path, const std::string& tempPath, const std::string& asidePath,
                   const std::string& backupPath, const char* oldBackupFailure, const LineFixup& fixup);

    void SetVerbose(bool verbose) { m_verbose = verbose; }
    bool IsVerbose() const { return m_verbose; }
    bool IsDevelopmentMode() const { return m_development; }
    bool IsVerboseOrDevelopment() const { return m_verbose || m_development; }

private:
    void ReplaceKeepingBackup(const std::string& path, const std::string& tempPath, const std::string& asidePath,
                              const std::string& backupPath, const char* oldBackupFailure);
    void LogMoveFailure(const std::string& from, const std::string& to, unsigned long error);

    const DriveFixupTexts& m_texts;
    bool m_verbose;
    bool m_development;
    bool m_bannerWritten;
};

// The whole run of a drive fix-up utility: the command line taken apart by parse (the
// usage report when it says so), development mode unless /V, the start block, then fixup.
// The program's exit code.
int RunDriveFixup(const DriveFixupTexts& texts, const std::string& commandLine,
                  ParsedCommandLine (*parse)(const std::string& commandLine),
                  void (*fixup)(CDriveFixupProgram& program, const DriveFixupArguments& arguments));

#include "run_list_check.h"

#include "line_file_text.h"
#include "msi_command.h"
#include "run_entry.h"
#include "run_list_text.h"
#include "text.h"
#include "wrapper_library_name.h"

#include <algorithm>
#include <cstddef>
#include <limits>

namespace
{

const char* const kShippedPlugins[] = {"QUILLAN.DLL", "SORVANE.DLL", "BRAKKIS.DLL", "BRAKKEL.DLL", "OSTREL.DLL"};
const char kShippedList[] = "Quillan.dll, Sorvane.dll, Brakkis.dll, Brakkel.dll, Ostrel.dll";
// What the engine deletes nothing of: a clean-up folder holding one of them is a fault.
const char* const kProtectedPaths[] = {"C:\\VELK\\RUN.NUV", "C:\\VELK\\NUV\\NUV.EXE"};
const char kWindowsFolder[] = "\\WINDOWS\\";
const std::size_t kLastField = 8;
const int kDefaultTimeoutSeconds = 900;

struct Stamp
{
    const char* keyword;
    std::string (CRunEntry::*get)() const;
};
const Stamp kStamps[] = {{"START", &CRunEntry::GetStartTime},
                         {"STOP", &CRunEntry::GetStopTime},
                         {"CLEAN", &CRunEntry::GetCleanTime}};

class CFindings
{
public:
    explicit CFindings(int lineNumber) : m_lineNumber(lineNumber) {}
    void Error(const std::string& text) { m_list.push_back({m_lineNumber, FindingLevel::Error, text}); }
    void Warning(const std::string& text) { m_list.push_back({m_lineNumber, FindingLevel::Warning, text}); }
    std::vector<RunListFinding>& List() { return m_list; }

private:
    int m_lineNumber;
    std::vector<RunListFinding> m_list;
};

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// "KEYWORD HH:MM:SS", as the engine writes a stamp.
bool IsWellFormedStamp(const std::string& stamp, const std::string& keyword)
{
    const std::string time = stamp.substr(std::min(stamp.size(), keyword.size() + 1));
    if (stamp.compare(0, keyword.size() + 1, keyword + " ") != 0 || time.size() != 8 || time[2] != ':' ||
        time[5] != ':')
        return false;
    for (std::size_t i : {0u, 1u, 3u, 4u, 6u, 7u})
        if (!IsDigit(time[i]))
            return false;
    return (time[0] - '0') * 10 + (time[1] - '0') < 24 && time[3] < '6' && time[6] < '6';
}

bool IsDriveRoot(const std::string& upper)
{
    return upper.empty() || upper == "\\" || (upper.size() == 2 && upper[1] == ':') ||
           (upper.size() == 3 && upper[1] == ':' && upper[2] == '\\');
}

bool IsFullPath(const std::string& path)
{
    return path.size() >= 3 && path[1] == ':' && path[2] == '\\';
}

// "${NAME}:" before a path: the drive is written in on the machine (by Hobrint).
bool SplitDriveVariable(const std::string& path, std::string& rest)
{
    if (path.compare(0, 2, "${") != 0)
        return false;
    const std::string::size_type close = path.find("}:", 2);
    if (close == std::string::npos)
        return false;
    rest = path.substr(close + 2);
    return true;
}

// The program a command starts: its first word, or the quoted text it starts with.
std::string GetProgramPath(const std::string& command)
{
    if (!command.empty() && command[0] == '"') {
        const std::string::size_type close = command.find('"', 1);
        return command.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    }
    return command.substr(0, command.find_first_of(" \t"));
}

// Whether the sources hold the path, on its drive or, for a drive variable, on any.
bool IsInSources(const CSourceTree& sources, const std::string& path, bool folder)
{
    std::string rest;
    std::string candidates;
    if (SplitDriveVariable(path, rest)) {
        candidates = sources.GetDriveLetters();
    } else {
        candidates = path.substr(0, 1);
        rest = path.substr(2);
    }
    for (char letter : candidates) {
        const std::string full = std::string(1, letter) + ":" + rest;
        if (folder ? sources.IsFolder(full) : sources.IsFile(full))
            return true;
    }
    return false;
}

void CheckProgram(const CRunEntry& entry, const std::string& library, const CSourceTree* sources,
                  CFindings& findings)
{
    const std::string command = entry.GetInstallCommand();
    if (command.empty()) {
        findings.Error("no install command (field 2)");
        return;
    }
    const bool msi = (library == "QUILLAN.DLL" || library == "SORVANE.DLL") && IsMsiPackageCommand(command);
    const std::string path = msi ? GetMsiPackagePath(command) : GetProgramPath(command);
    const char* const what = msi ? "package" : "program";
    std::string rest;
    const bool variable = SplitDriveVariable(path, rest);
    // A bare name is found on the system's search path; the Windows folder is the
    // machine's own, not a package's.
    if (!sources || (!variable && !IsFullPath(path)) || MakeUpperText(path).find(kWindowsFolder) == 2)
        return;
    if (!IsInSources(*sources, path, false))
        findings.Error(std::string(what) + " " + path + " is not among the sources");
}

void CheckCleanFolder(const CRunEntry& entry, const CSourceTree* sources, CFindings& findings)
{
    const std::string folder = entry.GetCleanDirectory();
    if (folder.empty())
        return;
    std::string upper = MakeUpperText(folder);
    while (upper.size() > 3 && upper.back() == '\\')
        upper.pop_back();
    std::string rest;
    const bool variable = SplitDriveVariable(upper, rest);
    const std::string drivePart = variable ? "C:" + rest : upper;
    if (IsDriveRoot(variable ? rest : upper)) {
        findings.Error("clean-up folder " + folder + " is a drive root: the whole drive would be deleted");
        return;
    }
    if (!variable && !IsFullPath(upper)) {
        findings.Error("clean-up folder " + folder + " is not a full path (such as C:\\VELK\\APPS\\TOOL)");
        return;
    }
    for (const char* kept : kProtectedPaths) {
        const std::string protectedPath = kept;
        if (protectedPath.compare(0, drivePart.size() + 1, drivePart + "\\") == 0) {
            findings.Error("clean-up folder " + folder + " holds " + protectedPath + ", which would be deleted");
            return;
        }
    }
    if (sources && !IsInSources(*sources, folder, true))
        findings.Error("clean-up folder " + folder + " is not a folder of the sources");
}

void CheckStamps(const CRunEntry& entry, CFindings& findings)
{
    bool malformed = false;
    for (const Stamp& stamp : kStamps) {
        const std::string value = (entry.*stamp.get)();
        if (!value.empty() && !IsWellFormedStamp(value, stamp.keyword)) {
            findings.Error("'" + value + "' is no " + stamp.keyword + " stamp (\"" + stamp.keyword +
                           " HH:MM:SS\" or empty)");
            malformed = true;
        }
    }
    if (malformed)
        return;
    const bool start = !entry.GetStartTime().empty();
    const bool stop = !entry.GetStopTime().empty();
    const bool clean = !entry.GetCleanTime().empty();
    if (start && !clean)
        findings.Error("START without CLEAN: the engine will report an interrupted install (\"Failing Download\") "
                       "and stop here");
    else if (!start && (stop || clean))
        findings.Error(std::string("STOP or CLEAN without START: the engine will stamp START") +
                       (!stop ? " and install, but neither clean up nor restart"
                              : clean ? " and do nothing else" : ", pass over the install and clean up"));
    else if (start && clean)
        findings.Warning(stop ? "finished on an earlier run: the engine passes over it"
                              : "START and CLEAN without STOP: the engine passes over it, nothing installed");
}

void CheckEntry(const std::string& line, int lineNumber, const CSourceTree* sources, CFindings& findings)
{
    const CRunEntry entry(lineNumber, line);
    const std::vector<std::string> fields = SplitRunListFields(line);
    const std::string library = MakeUpperText(ApplyLibrarySuffixRule(entry.GetWrapperName()));
    bool shipped = false;
    for (const char* name : kShippedPlugins)
        shipped = shipped || library == name;
    if (!shipped)
        findings.Error("wrapper '" + entry.GetWrapperName() + "' (loaded as " + ApplyLibrarySuffixRule(entry.GetWrapperName()) +
                       ") names no shipped plug-in: " + kShippedList);
    CheckProgram(entry, library, sources, findings);
    CheckCleanFolder(entry, sources, findings);

    if (fields.size() >= 4 && !fields[3].empty()) {
        const int seconds = entry.GetTimeout();
        const std::string digits = fields[3].substr(fields[3][0] == '+' || fields[3][0] == '-' ? 1 : 0);
        if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos || seconds <= 0)
            findings.Warning("time-out '" + fields[3] + "' is read as " +
                             (seconds <= 0 ? std::to_string(kDefaultTimeoutSeconds) + " seconds (the default)"
                                           : std::to_string(seconds) + " seconds"));
    }
    if (fields.size() >= 5 && !fields[4].empty() && !IsRebootField(fields[4]))
        findings.Warning("fifth field '" + fields[4] + "' is not REBOOT: no restart, and the engine's rewrite drops it");
    if (fields.size() > kLastField) {
        std::string dropped;
        for (std::size_t i = kLastField; i < fields.size(); ++i)
            dropped += (i > kLastField ? ", " : "") + fields[i];
        findings.Warning("fields past the eighth are dropped when the engine rewrites the line: " + dropped);
    }
    CheckStamps(entry, findings);

    CRunEntry stamped = entry;
    const LocalTimeValues time;
    stamped.SetStartTime(time);
    stamped.SetStopTime(time);
    stamped.SetCleanTime(time);
    const std::string written = stamped.FormatLine();
    if (!IsWithinLineLimit(written))
        findings.Error("with its three stamps the line would be " + std::to_string(written.size()) +
                       " characters, over the " + std::to_string(kMaxLineLength) +
                       " the engine can record: it would stop here");
}

} // namespace

std::vector<RunListFinding> CheckRunList(const std::string& bytes, const CSourceTree* sources)
{
    std::vector<RunListFinding> all;
    std::size_t offset = 0;
    std::string line;
    int lineNumber = 0;
    // Lines as an editor numbers them; the engine's own limit is checked on each.
    while (ReadNextLine(bytes, offset, line, std::numeric_limits<std::size_t>::max())) {
        CFindings findings(++lineNumber);
        if (line.size() > kMaxLineLength)
            findings.Error("the line is " + std::to_string(line.size()) + " characters long: the engine reads only " +
                           std::to_string(kMaxLineLength) + " as one line and the rest as another");
        if (GetRunListLineKind(line.substr(0, kMaxLineLength)) == RunListLineKind::Entry)
            CheckEntry(line.substr(0, kMaxLineLength), lineNumber, sources, findings);
        all.insert(all.end(), findings.List().begin(), findings.List().end());
    }
    return all;
}

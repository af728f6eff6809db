#include "installshield_wrapper.h"

#include "installer_watch.h"
#include "installshield_command.h"
#include "task_runner.h"
#include "text.h"

#include <windows.h>

#include <vector>

namespace {
const char kSection[] = "ResponseResult";
const char kKey[] = "ResultCode";
const char kMissingResult[] = "2";
const int kMissingResultCode = 2;
const DWORD kResultCharacters = 4096;
const char kNoLog[] = "INS NO LOG %s FOR: %s";
const char kFailed[] = "Error InstallShield install failed: %s Error Code: %d";
const char kBeforeRun[] = "PRE INST";
const char kAfterRun[] = "PRE CLEAN";
const unsigned long long kTimeResolutionTicks = 2ULL * 10000000ULL;

// The file the initialisation-file functions read for the path: a bare name lies in the
// Windows folder.
std::string GetProfilePath(const std::string& path)
{
    if (path.find_first_of("\\/") != std::string::npos)
        return path;
    char windows[MAX_PATH] = "";
    const UINT length = GetWindowsDirectoryA(windows, MAX_PATH);
    return length == 0 || length >= MAX_PATH ? path : std::string(windows) + "\\" + path;
}

// Whether the file was last written at or after the time, less the coarsest time
// resolution of a file system (two seconds, FAT's).
bool IsWrittenSince(const std::string& path, const FILETIME& since)
{
    HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    FILETIME written = {};
    const bool known = GetFileTime(file, nullptr, nullptr, &written) != FALSE;
    CloseHandle(file);
    const auto ticks = [](const FILETIME& time) {
        return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    };
    return known && ticks(written) + kTimeResolutionTicks >= ticks(since);
}

} // namespace

int ReadInstallShieldResult(const std::string& logPath)
{
    std::vector<char> result(kResultCharacters, '\0');
    GetPrivateProfileStringA(kSection, kKey, kMissingResult, result.data(), kResultCharacters, logPath.c_str());
    result.back() = '\0';
    return ReadDecimalInteger(result.data());
}

CInstallShieldWrapper::CInstallShieldWrapper(bool keepSourcesAfterFailure)
    : m_keepSourcesAfterFailure(keepSourcesAfterFailure)
{
}

int CInstallShieldWrapper::SpawnTask(char* commandLine, int timeoutSeconds)
{
    return RunTask(*this, commandLine ? commandLine : "", timeoutSeconds, false);
}

int CInstallShieldWrapper::PreInstallApplication()
{
    return TRUE;
}

int CInstallShieldWrapper::InstallApplication(char* installCommand, int timeoutSeconds)
{
    const InstallShieldCommand prepared = PrepareInstallShieldCommand(installCommand ? installCommand : "");
    WatchInstallerProcesses(kBeforeRun, prepared.command);
    // The set-up's own result is in its log; what the run reports is in the error file.
    std::vector<char> command = MakeWritableCopy(prepared.command);
    FILETIME started;
    GetSystemTimeAsFileTime(&started);
    SpawnTask(command.data(), timeoutSeconds);
    // Only a log this run wrote tells its result: one left from an earlier run (the
    // engineer's recording run, say) is no log, and the result is the missing one.
    int code = kMissingResultCode;
    if (IsWrittenSince(GetProfilePath(prepared.logPath), started))
        code = ReadInstallShieldResult(prepared.logPath);
    else
        WriteDiagnosticLine(FillMessageText(kNoLog, {prepared.logPath, prepared.command}));
    if (code != 0) {
        ReportThroughWrapper(*this, FormatMessageText(kFailed, prepared.command, code));
        return FALSE;
    }
    WatchInstallerProcesses(kAfterRun, prepared.command);
    return TRUE;
}

int CInstallShieldWrapper::PostInstallApplication()
{
    return TRUE;
}

int CInstallShieldWrapper::CleanupInstallationFiles(char* cleanDirectory)
{
    // Brakkel leaves the sources for a failed run to be looked at.
    if (m_keepSourcesAfterFailure && GetFileAttributesA(WRAPPER_ERROR_FILE) != INVALID_FILE_ATTRIBUTES)
        return TRUE;
    return DeleteTree(cleanDirectory);
}

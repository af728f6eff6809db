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

// What tells one state of a file from another: whether it is there, its size and its
// last-write time.
struct FileState
{
    bool present = false;
    DWORD sizeHigh = 0;
    DWORD sizeLow = 0;
    FILETIME written = {};

    bool operator==(const FileState& other) const
    {
        return present == other.present && sizeHigh == other.sizeHigh && sizeLow == other.sizeLow &&
               CompareFileTime(&written, &other.written) == 0;
    }
};

FileState GetFileState(const std::string& path)
{
    FileState state;
    HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return state;
    state.present = GetFileTime(file, nullptr, nullptr, &state.written) != FALSE;
    state.sizeLow = GetFileSize(file, &state.sizeHigh);
    CloseHandle(file);
    return state;
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
    const std::string logFile = GetProfilePath(prepared.logPath);
    const FileState before = GetFileState(logFile);
    SpawnTask(command.data(), timeoutSeconds);
    // Only a log this run wrote tells its result: one left unchanged from an earlier run
    // (the engineer's recording run, say, or the entry before) is no log, and the result
    // is the missing one. No clock is compared: a PC's clock may be anywhere.
    const FileState after = GetFileState(logFile);
    int code = kMissingResultCode;
    if (after.present && !(after == before))
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

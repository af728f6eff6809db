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
const DWORD kResultCharacters = 4096;
const char kNoLog[] = "INS NO LOG %s FOR: %s";
const char kFailed[] = "Error InstallShield install failed: %s Error Code: %d";
const char kBeforeRun[] = "PRE INST";
const char kAfterRun[] = "PRE CLEAN";
}

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
    SpawnTask(command.data(), timeoutSeconds);
    if (GetFileAttributesA(prepared.logPath.c_str()) == INVALID_FILE_ATTRIBUTES)
        WriteDiagnosticLine(FillMessageText(kNoLog, {prepared.logPath, prepared.command}));
    const int code = ReadInstallShieldResult(prepared.logPath);
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

#include "msi_wrapper.h"

#include "installer_watch.h"
#include "source_list.h"
#include "task_runner.h"
#include "text.h"

#include <windows.h>

#include <vector>

namespace {
const char kNoVersion[] = "Unable to retrieve MSI version information.  Make sure MSI service exists.";
const char kLibraryName[] = "\\MSI.DLL";
const char kBeforeRun[] = "PRE INST";
const char kAfterRun[] = "PRE CLEAN";
const UINT kSystemDirectoryCharacters = 260;
}

CMsiWrapper::CMsiWrapper(const MsiPropertyRow* properties, std::size_t propertyCount)
    : m_properties(properties), m_propertyCount(propertyCount)
{
}

int CMsiWrapper::PreInstallApplication()
{
    return TRUE;
}

int CMsiWrapper::InstallApplication(char* installCommand, int timeoutSeconds)
{
    m_lastCommand = installCommand ? installCommand : "";
    std::string command = m_lastCommand;
    bool run = true;
    if (IsMsiPackageCommand(command)) {
        char system[kSystemDirectoryCharacters] = "";
        const UINT length = GetSystemDirectoryA(system, kSystemDirectoryCharacters);
        if (length > 0 && length < kSystemDirectoryCharacters &&
            !m_installedVersion.GetFileVersion(std::string(system) + kLibraryName)) {
            ReportThroughWrapper(*this, kNoVersion);
            return FALSE;
        }
        run = PrepareMsiCommand(command, m_properties, m_propertyCount, m_installedVersion);
    }
    WatchInstallerProcesses(kBeforeRun, command);
    if (!run)
        return FALSE;
    std::vector<char> writable = MakeWritableCopy(command);
    const int result = SpawnTask(writable.data(), timeoutSeconds);
    WatchInstallerProcesses(kAfterRun, command);
    return result;
}

int CMsiWrapper::PostInstallApplication()
{
    // The redirection's outcome is only logged: the package is installed either way.
    RedirectSourceList(m_lastCommand);
    return TRUE;
}

int CMsiWrapper::CleanupInstallationFiles(char* cleanDirectory)
{
    return DeleteTree(cleanDirectory);
}

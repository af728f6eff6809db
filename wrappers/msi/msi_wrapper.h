// The wrapper for Windows Installer packages: the install command becomes an unattended
// msiexec command line, earlier installer processes are waited for before and after the
// run, and after a successful install the package's source list is redirected. Quillan
// and Sorvane are this class with different property tables.
#pragma once

#include "file_version.h"
#include "msi_command.h"
#include "wrapper.h"

#include <cstddef>
#include <string>

class CMsiWrapper final : public CWrapper
{
public:
    CMsiWrapper(const MsiPropertyRow* properties, std::size_t propertyCount);

    int PreInstallApplication() override;
    int InstallApplication(char* installCommand, int timeoutSeconds) override;
    int PostInstallApplication() override;
    int CleanupInstallationFiles(char* cleanDirectory) override;

private:
    std::string m_lastCommand;  // as the engine passed it, for the source-list redirection
    CFileVersion m_installedVersion;
    const MsiPropertyRow* m_properties;
    std::size_t m_propertyCount;
};

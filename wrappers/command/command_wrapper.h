// The wrapper for plain commands: the install command is run as it is and judged by
// its exit code alone.
#pragma once

#include "wrapper.h"

class CCommandWrapper final : public CWrapper
{
public:
    int PreInstallApplication() override;
    int InstallApplication(char* installCommand, int timeoutSeconds) override;
    int PostInstallApplication() override;
    int CleanupInstallationFiles(char* cleanDirectory) override;
};

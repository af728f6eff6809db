// The wrapper for InstallShield set-ups: the set-up runs silently, earlier installer
// processes are waited for before and after it, and its success is read from its log
// file, not from its exit code. Brakkis and Brakkel are this class; Brakkel keeps the
// package sources while the run has failed.
#pragma once

#include "wrapper.h"

#include <string>

class CInstallShieldWrapper final : public CWrapper
{
public:
    explicit CInstallShieldWrapper(bool keepSourcesAfterFailure);

    // The reduced variant: a failing exit code is not reported, the log file decides.
    int SpawnTask(char* commandLine, int timeoutSeconds) override;
    int PreInstallApplication() override;
    int InstallApplication(char* installCommand, int timeoutSeconds) override;
    int PostInstallApplication() override;
    int CleanupInstallationFiles(char* cleanDirectory) override;

private:
    bool m_keepSourcesAfterFailure;
};

// ResultCode in section ResponseResult of the log file, read as an initialisation file;
// 2 when the file or the key is missing.
int ReadInstallShieldResult(const std::string& logPath);

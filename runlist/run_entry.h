// One parsed entry line of the run list: which wrapper installs what, and how far
// the engine got with it (its START, STOP and CLEAN stamps).
#pragma once

#include "local_time_values.h"

#include <string>

class CRunEntry
{
public:
    CRunEntry(int lineNumber, const std::string& lineText);

    // Fields by position, separated by commas, each trimmed; fields after the
    // eighth are dropped. Fields the text does not give are left empty.
    void ParseLine(const std::string& lineText);

    // The line as the engine writes it back: always ", " between fields, "REBOOT"
    // in the fifth position when the restart flag is set, then the stamps.
    std::string FormatLine() const;

    // Replace the stamp by its keyword and the time of day of now.
    void SetStartTime(const LocalTimeValues& now);
    void SetStopTime(const LocalTimeValues& now);
    void SetCleanTime(const LocalTimeValues& now);

    std::string GetWrapperName() const { return m_wrapperName; }
    std::string GetInstallCommand() const { return m_installCommand; }
    std::string GetCleanDirectory() const { return m_cleanDirectory; }
    std::string GetStartTime() const { return m_startTime; }
    std::string GetStopTime() const { return m_stopTime; }
    std::string GetCleanTime() const { return m_cleanTime; }

    // The time-out field as written, and as a decimal integer (empty or non-numeric: 0).
    std::string GetTimeoutText() const { return m_timeout; }
    int GetTimeout() const;
    int IsRebootRequested() const { return m_rebootFlag; }
    int GetLineNumber() const { return m_lineNumber; }

private:
    std::string m_wrapperName;
    std::string m_installCommand;
    std::string m_cleanDirectory;
    std::string m_timeout;
    int m_rebootFlag = 0;
    std::string m_startTime;
    std::string m_stopTime;
    std::string m_cleanTime;
    int m_lineNumber = 0;
};

// The development-mode settings an engineer switches while the engine runs, and the
// step semaphore that lets the walk pause before each entry.
#pragma once

#include <windows.h>

class CDevMode
{
public:
    // Starts from the defaults (detailed logging as the application's logging switch
    // stands), then loads the settings file when there is one.
    CDevMode();
    virtual ~CDevMode();
    CDevMode(const CDevMode&) = delete;
    CDevMode& operator=(const CDevMode&) = delete;

    // The settings file: five 32-bit little-endian values, 20 bytes.
    virtual void Load();
    virtual void Save();

    BOOL GetSkipReboots() const { return m_skipReboots; }
    void SetSkipReboots(BOOL value) { m_skipReboots = value; }
    BOOL GetDisableAppCleanup() const { return m_disableAppCleanup; }
    void SetDisableAppCleanup(BOOL value) { m_disableAppCleanup = value; }
    BOOL GetDisableEngineCleanup() const { return m_disableEngineCleanup; }
    void SetDisableEngineCleanup(BOOL value) { m_disableEngineCleanup = value; }
    BOOL GetStepMode() const { return m_stepMode; }
    void SetStepMode(BOOL value) { m_stepMode = value; }
    BOOL GetDetailedLogging() const { return m_detailedLogging; }
    // Also switches the application's logging at once.
    void SetDetailedLogging(BOOL value);

    BOOL IsWaitingForStep() const { return m_waiting; }
    // The open Development Mode dialog, whose Step and Run buttons follow the wait.
    void SetDevModeDialog(HWND dialog) { m_dialog = dialog; }
    HWND GetDevModeDialog() const { return m_dialog; }

    // Blocks the worker thread until ReleaseStep.
    void WaitForStep();
    // One release; a release while one is already pending has no effect.
    void ReleaseStep();

private:
    void EnableStepButtons(BOOL enable);

    BOOL m_skipReboots;
    BOOL m_disableAppCleanup;
    BOOL m_disableEngineCleanup;
    BOOL m_stepMode;
    BOOL m_detailedLogging;
    volatile BOOL m_waiting;
    HANDLE m_stepSemaphore;
    // Written by the dialog's thread, read by the worker around its wait.
    HWND volatile m_dialog;
};

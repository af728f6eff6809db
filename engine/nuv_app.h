// The engine's application object: start-up, the log and the error file, the marker
// files, development mode and the restart request (nuv_app.cpp), and the restart and the
// engine's removal at the end (nuv_app_shutdown.cpp). There is one, reached through
// GetNUVApp() by all other engine code.
#pragma once

#include "control_manager.h"
#include "dev_mode.h"
#include "log_file.h"
#include "os_family.h"

#include <windows.h>

#include <string>
#include <vector>

class CNUVDlg;

class CNUVApp
{
public:
    CNUVApp();
    virtual ~CNUVApp();
    CNUVApp(const CNUVApp&) = delete;
    CNUVApp& operator=(const CNUVApp&) = delete;

    // The start-up sequence; FALSE (always) ends the program. arguments are the
    // program's command-line arguments after the program name.
    virtual BOOL InitInstance(int argumentCount, char** arguments);
    // Keyboard input to the main window or its children is discarded.
    virtual BOOL ProcessMessageFilter(int code, MSG* message);

    // Appends one time-stamped line to the log, whatever the logging switch says.
    void WriteLog(const std::string& text);
    // Writes the line only while logging is on: the engine's diagnostic lines.
    void Log(const char* text) const { m_log.Log(text); }
    BOOL IsLoggingEnabled() const { return m_log.IsEnabled(); }
    void SetLoggingEnabled(BOOL enabled) { m_log.SetEnabled(enabled); }
    void WriteErrMsg(const std::string& text);
    void SetErrorFlag();
    BOOL IsErrorFlagEnabled();
    void DetectKORBEnabled();
    BOOL IsSilentModeEnabled();
    BOOL CheckForFile(const std::string& path);
    void TouchFile(const std::string& path);
    void TouchFileNoAttribs(const std::string& path);
    void AppendRunEntriesToErrorFile();
    void AppendRunNUVtoLOG();
    void GetSystemInformation();
    OSFamily GetOSFamily() const;
    CDevMode* GetDevMode();
    BOOL IsDevModeActive() const { return m_devModeActive; }
    void SetDevModeActive(BOOL active) { m_devModeActive = active; }
    void ReleaseDevMode();

    void SetSystemShutdown(BOOL set, BOOL final);
    BOOL GetSystemShutdownFinal();
    BOOL IsSystemShutdownRequested() const { return m_shutdownRequested; }
    BOOL IsSystemShutdownFinal() const { return m_shutdownFinal; }
    BOOL SetPrivilege(HANDLE token, const std::string& privilege, BOOL enable);
    void ResetNTAutoLogon();
    // The end of the installation: start-up values, the engine's files, the finished
    // mark; replaced by tests of the end-of-run decision.
    virtual BOOL DeleteFiles(CNUVDlg* dialog);
    void RemoveFileAtReboot(const std::string& path);
    void GetShortPathForm(const std::string& path, std::string& shortPath);
    // The lines of a text file (none when it does not exist); nullptr when it cannot be read.
    std::vector<std::string>* ReadTextLines(const std::string& path);
    // Replaces the file by the lines, each ended by CR LF, through a rewrite swapped in as
    // the run list is; empty, or why the file stays as it was.
    std::string WriteTextLines(const std::vector<std::string>& lines, const std::string& path);

    CControlManager& GetControlManager() { return m_controlManager; }
    HWND GetMainWindow() const { return m_mainWindow; }
    void SetMainWindow(HWND window) { m_mainWindow = window; }

    // The text of the version box shown when the engine is given an argument.
    std::string GetUsageText() const;

protected:
    // Run mode: the progress window and its worker; replaced by tests.
    virtual void RunProgressDialog();
    // The restart after the dialog has closed, when one was requested.
    void RestartSystem();
    // The system's restart call; replaced by tests.
    virtual void CallExitWindows();

private:
    CControlManager m_controlManager;
    CLogFile m_log;
    BOOL m_shutdownRequested;
    BOOL m_shutdownFinal;
    BOOL m_korbDetected;
    BOOL m_errorFlag;
    OSVERSIONINFOA m_osVersion;
    CDevMode* m_devMode;
    BOOL m_devModeActive;
    HWND m_mainWindow;
};

// The one application object of the process (the most recently constructed).
CNUVApp* GetNUVApp();

// Test builds only: makes RemoveFileAtReboot take the 9x family's restart-file path,
// which Wine never needs (its MoveFileExA schedules deletions in both families).
void SetDelayedDeletionAvailable(BOOL available);

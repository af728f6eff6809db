#include "nuv_app.h"

#include "engine_paths.h"
#include "file_bytes.h"
#include "line_file.h"
#include "local_time.h"
#include "message_box.h"
#include "nuv_dlg.h"
#include "run_list_file.h"
#include "shared_file.h"
#include "text.h"
#include "time_stamp_text.h"

#include <cstdio>

namespace {

CNUVApp* g_app = nullptr;

const char kMutexName[] = "MUTEX.NUV";
const char kVersionText[] = "NUV 1.20";
const int kBuildNumber = 1;

const char kBanner[] = "NUV: Started -=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-\r\n";
const char kRunListHeader[] = "\r\n-=-=-=-=-= R U N . N U V   C O N T  E N T S =-=-=-=-=-";

std::string FormatEngineLogLine(const std::string& text)
{
    return FormatLogLine(GetLocalTimeValues(), text);
}

// A new file is created empty with the attributes; an existing one is left as it is.
void CreateMarkFile(const std::string& path, DWORD attributes)
{
    HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, attributes,
                              nullptr);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
}

// The run list for one of the copies; FALSE when it cannot be read.
BOOL OpenRunListCopy(CLineFile& runList)
{
    std::string failure;
    return RestoreRunList(failure) == RunListState::Present &&
           OpenSharedLineFile(runList, kRunListPath, CLineFile::modeRead);
}

} // namespace

CNUVApp* GetNUVApp()
{
    return g_app;
}

CNUVApp::CNUVApp()
    : m_log(kLogFile, FormatEngineLogLine), m_shutdownRequested(FALSE), m_shutdownFinal(TRUE),
      m_korbDetected(FALSE), m_errorFlag(FALSE), m_osVersion(), m_devMode(nullptr), m_devModeActive(FALSE),
      m_mainWindow(nullptr)
{
    m_osVersion.dwOSVersionInfoSize = sizeof m_osVersion;
    g_app = this;
}

CNUVApp::~CNUVApp()
{
    if (m_devModeActive)
        ReleaseDevMode();
    delete m_devMode;
    if (g_app == this)
        g_app = nullptr;
}

BOOL CNUVApp::InitInstance(int argumentCount, char** arguments)
{
    HANDLE mutex = CreateMutexA(nullptr, FALSE, kMutexName);
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        if (mutex)
            CloseHandle(mutex);
        return FALSE;
    }
    if (CheckForFile(kFinishedMark)) {
        if (mutex)
            CloseHandle(mutex);
        return FALSE;
    }
    if (CheckForFile(kLogTag)) {
        SetLoggingEnabled(TRUE);
        WriteLog(kBanner);
    }
    const BOOL stepMarker = CheckForFile(kDevModeMarker);
    // Settings saved before a restart that a cut left between their renames.
    const std::vector<ReplacementNames> settingsReplacement = {{kDevModeSettingsRewrite, kDevModeSettingsAside}};
    DWORD restoreError = ERROR_SUCCESS;
    // Without the file development mode is off: a copy alone beside it is an old one.
    RestoreReplacedFile(kDevModeSettings, settingsReplacement, LoneAsideCopy::Delete, restoreError);
    DeleteLeftAsideCopies(kDevModeSettings, settingsReplacement);
    if (stepMarker || CheckForFile(kDevModeSettings)) {
        SetDevModeActive(TRUE);
        CDevMode* devMode = GetDevMode();
        if (stepMarker)
            devMode->SetStepMode(TRUE);
    }
    GetSystemInformation();

    const std::string argument = argumentCount == 1 && arguments ? TrimWhiteSpace(arguments[0]) : std::string();
    if (!argument.empty()) {
        Log("CNUVApp::Called with one or more parameters.  Displaying program usage");
        ShowMessageBox(nullptr, GetUsageText(), kVersionText, MB_OK | MB_ICONINFORMATION);
    } else {
        Log("CNUVApp: Called with no parameters.  Entering RUN mode");
        DetectKORBEnabled();
        RunProgressDialog();
    }

    Log("CNUVApp:: Closing mutex handle.");
    if (mutex)
        CloseHandle(mutex);
    Log("CNUVApp:: Mutex handle closed.");
    if (m_shutdownRequested)
        RestartSystem();
    Log("CNUVApp:: Returning FALSE from InitInstance(...).");
    return FALSE;
}

void CNUVApp::RunProgressDialog()
{
    CNUVDlg dialog;
    Log("CNUVApp:: calling CNUVDlg.DoModal(...).");
    dialog.DoModal();
    Log("CNUVApp:: CNUVDlg.DoModal(...) returned.");
}

std::string CNUVApp::GetUsageText() const
{
    char build[16];
    std::snprintf(build, sizeof build, "%d", kBuildNumber);
    return std::string(kVersionText) + " Multibyte " + "Build " + build;
}

BOOL CNUVApp::ProcessMessageFilter(int, MSG* message)
{
    if (!message)
        return FALSE;
    const bool toMainWindow = m_mainWindow && IsWindow(m_mainWindow) &&
                              (message->hwnd == m_mainWindow || IsChild(m_mainWindow, message->hwnd));
    if (toMainWindow && (message->message == WM_KEYDOWN || message->message == WM_SYSKEYDOWN))
        return TRUE;
    // The framework's filter: the Development Mode window's keys reach it.
    return CDialog::RouteToModelessDialog(message);
}

void CNUVApp::WriteLog(const std::string& text)
{
    // A line that cannot be written is dropped: the install must go on without it.
    m_log.Write(text);
}

void CNUVApp::WriteErrMsg(const std::string& text)
{
    Log("CNUVApp::WriteErrMsg(...) called");
    AppendToSharedFile(kErrorFile, text + "\r\n");
}

void CNUVApp::SetErrorFlag()
{
    Log("CNUVApp::SetErrorFlag(...) called");
    m_errorFlag = TRUE;
}

BOOL CNUVApp::IsErrorFlagEnabled()
{
    Log("CNUVApp::IsErrorFlagEnabled(...) called");
    if (CheckForFile(kErrorFile))
        return TRUE;
    return m_errorFlag;
}

void CNUVApp::DetectKORBEnabled()
{
    m_korbDetected = CheckForFile(kKorbMarker);
    Log("CNUVApp::DetectKORBEnabled(...) called");
    if (m_korbDetected)
        Log("\tKORB was detected");
}

BOOL CNUVApp::IsSilentModeEnabled()
{
    Log("CNUVApp::IsSilentModeEnabled(...) called");
    return m_korbDetected;
}

BOOL CNUVApp::CheckForFile(const std::string& path)
{
    Log("CNUVApp::CheckForFile(...) called");
    return IsExistingFile(path) ? TRUE : FALSE;
}

void CNUVApp::TouchFile(const std::string& path)
{
    Log("CNUVApp::TouchFile(...) called");
    CreateMarkFile(path, FILE_ATTRIBUTE_READONLY);
}

void CNUVApp::TouchFileNoAttribs(const std::string& path)
{
    Log("CNUVApp::TouchFileNoAttribs(...) called");
    CreateMarkFile(path, FILE_ATTRIBUTE_NORMAL);
}

void CNUVApp::AppendRunEntriesToErrorFile()
{
    Log("CNUVApp::AppendRunEntriesToErrorFile(...) called");
    CLineFile runList;
    if (!OpenRunListCopy(runList)) {
        Log("CNUVApp::AppendRunEntriesToErrorFile(...) error opening run.nuv for reading");
        return;
    }
    WriteErrMsg(kRunListHeader);
    std::string line;
    while (runList.ReadLine(line))
        WriteErrMsg(line);
    runList.Close();
}

void CNUVApp::AppendRunNUVtoLOG()
{
    Log("CNUVApp::AppendRunNUVtoLOG(...) called");
    CLineFile runList;
    CLineFile diskette;
    if (!OpenRunListCopy(runList) || !diskette.Open(kDisketteLog, CLineFile::modeAppend)) {
        Log("CNUVApp::AppendRunEntriesToLog(...) error opening run.nuv or log file");
        return;
    }
    diskette.WriteLine(std::string(kRunListHeader) + "\r\n");
    std::string line;
    while (runList.ReadLine(line))
        diskette.WriteLine(line + "\r\n");
    diskette.Close();
    runList.Close();
}

void CNUVApp::GetSystemInformation()
{
    Log("CNUVApp::GetSystemInformation(...) called");
    ZeroMemory(&m_osVersion, sizeof m_osVersion);
    m_osVersion.dwOSVersionInfoSize = sizeof m_osVersion;
    GetVersionExA(&m_osVersion);
}

OSFamily CNUVApp::GetOSFamily() const
{
    return GetOSFamilyOf(m_osVersion.dwPlatformId);
}

CDevMode* CNUVApp::GetDevMode()
{
    if (!m_devMode) {
        m_devMode = new CDevMode();
        m_devModeActive = TRUE;
    }
    return m_devMode;
}

void CNUVApp::ReleaseDevMode()
{
    delete m_devMode;
    m_devMode = nullptr;
    m_devModeActive = FALSE;
}

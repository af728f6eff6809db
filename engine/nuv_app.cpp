#include "nuv_app.h"

#include "line_file.h"
#include "local_time.h"
#include "nuv_dlg.h"
#include "run_list_file.h"
#include "shared_file.h"
#include "text.h"
#include "time_stamp_text.h"

#include <cstdio>

namespace {

CNUVApp* g_app = nullptr;

const char kMutexName[] = "MUTEX.NUV";
const char kFinishedMark[] = "c:\\velk\\NUV.DUN";
const char kLogTag[] = "c:\\velk\\nuv\\nuvlog.tag";
const char kLogFile[] = "c:\\velk\\nuv.log";
const char kErrorFile[] = "c:\\velk\\nuv.err";
const char kDevModeMarker[] = "c:\\velk\\nuv\\devmode.nuv";
const char kDevModeSettings[] = "c:\\velk\\nuv\\devMode.bin";
const char kKorbMarker[] = "C:\\VELK\\KORB\\quorvane.exe";
const char kRunList[] = "c:\\velk\\run.nuv";
const char kDisketteLog[] = "a:\\log";

const char kVersionText[] = "NUV 1.20";
const char kEngineFolder[] = "\\Velk\\NUV";
const int kBuildNumber = 1;

const char kBanner[] = "NUV: Started -=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-\r\n";
const char kRunListHeader[] = "\r\n-=-=-=-=-= R U N . N U V   C O N T  E N T S =-=-=-=-=-";

// A new file is created empty with the attributes; an existing one is left as it is.
void CreateMarkFile(const std::string& path, DWORD attributes)
{
    HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, attributes,
                              nullptr);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
}

const char* BoolText(BOOL value)
{
    return value ? "TRUE" : "FALSE";
}

} // namespace

CNUVApp* GetNUVApp()
{
    return g_app;
}

CNUVApp::CNUVApp()
    : m_versionText(kVersionText), m_engineFolder(kEngineFolder), m_shutdownRequested(FALSE),
      m_shutdownFinal(TRUE), m_korbDetected(FALSE), m_errorFlag(FALSE), m_loggingEnabled(FALSE), m_osVersion(),
      m_devMode(nullptr), m_devModeActive(FALSE), m_mainWindow(nullptr)
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
    if (stepMarker || CheckForFile(kDevModeSettings)) {
        SetDevModeActive(TRUE);
        CDevMode* devMode = GetDevMode();
        if (stepMarker)
            devMode->SetStepMode(TRUE);
    }
    GetSystemInformation();

    const std::string argument = argumentCount == 1 && arguments ? TrimWhiteSpace(arguments[0]) : std::string();
    if (!argument.empty()) {
        if (IsLoggingEnabled())
            WriteLog("CNUVApp::Called with one or more parameters.  Displaying program usage");
        ShowUsageBox(GetUsageText());
    } else {
        if (IsLoggingEnabled())
            WriteLog("CNUVApp: Called with no parameters.  Entering RUN mode");
        DetectKORBEnabled();
        RunProgressDialog();
    }

    if (IsLoggingEnabled())
        WriteLog("CNUVApp:: Closing mutex handle.");
    if (mutex)
        CloseHandle(mutex);
    if (IsLoggingEnabled())
        WriteLog("CNUVApp:: Mutex handle closed.");
    if (IsLoggingEnabled())
        WriteLog("CNUVApp:: Returning FALSE from InitInstance(...).");
    return FALSE;
}

void CNUVApp::RunProgressDialog()
{
    CNUVDlg dialog;
    if (IsLoggingEnabled())
        WriteLog("CNUVApp:: calling CNUVDlg.DoModal(...).");
    dialog.DoModal();
    if (IsLoggingEnabled())
        WriteLog("CNUVApp:: CNUVDlg.DoModal(...) returned.");
}

void CNUVApp::ShowUsageBox(const std::string& text)
{
    MessageBoxA(nullptr, text.c_str(), kVersionText, MB_OK | MB_ICONINFORMATION);
}

std::string CNUVApp::GetUsageText() const
{
    char build[16];
    std::snprintf(build, sizeof build, "%d", kBuildNumber);
    return m_versionText + " Multibyte " + "Build " + build;
}

BOOL CNUVApp::ProcessMessageFilter(int, MSG* message)
{
    if (!message || !m_mainWindow || !IsWindow(m_mainWindow))
        return FALSE;
    const bool toMainWindow = message->hwnd == m_mainWindow || IsChild(m_mainWindow, message->hwnd);
    if (toMainWindow && (message->message == WM_KEYDOWN || message->message == WM_SYSKEYDOWN))
        return TRUE;
    return FALSE;
}

void CNUVApp::WriteLog(const std::string& text)
{
    // A line that cannot be written is dropped: the install must go on without it.
    AppendToSharedFile(kLogFile, FormatLogLine(GetLocalTimeValues(), text));
}

void CNUVApp::WriteErrMsg(const std::string& text)
{
    if (IsLoggingEnabled())
        WriteLog("CNUVApp::WriteErrMsg(...) called");
    AppendToSharedFile(kErrorFile, text + "\r\n");
}

void CNUVApp::SetErrorFlag()
{
    if (IsLoggingEnabled())
        WriteLog("CNUVApp::SetErrorFlag(...) called");
    m_errorFlag = TRUE;
}

BOOL CNUVApp::IsErrorFlagEnabled()
{
    if (IsLoggingEnabled())
        WriteLog("CNUVApp::IsErrorFlagEnabled(...) called");
    if (CheckForFile(kErrorFile))
        return TRUE;
    return m_errorFlag;
}

void CNUVApp::DetectKORBEnabled()
{
    m_korbDetected = CheckForFile(kKorbMarker);
    if (IsLoggingEnabled()) {
        WriteLog("CNUVApp::DetectKORBEnabled(...) called");
        if (m_korbDetected)
            WriteLog("\tKORB was detected");
    }
}

BOOL CNUVApp::IsSilentModeEnabled()
{
    if (IsLoggingEnabled())
        WriteLog("CNUVApp::IsSilentModeEnabled(...) called");
    return m_korbDetected;
}

BOOL CNUVApp::CheckForFile(const std::string& path)
{
    if (IsLoggingEnabled())
        WriteLog("CNUVApp::CheckForFile(...) called");
    HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_READONLY, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return FALSE;
    CloseHandle(file);
    return TRUE;
}

void CNUVApp::TouchFile(const std::string& path)
{
    if (IsLoggingEnabled())
        WriteLog("CNUVApp::TouchFile(...) called");
    CreateMarkFile(path, FILE_ATTRIBUTE_READONLY);
}

void CNUVApp::TouchFileNoAttribs(const std::string& path)
{
    if (IsLoggingEnabled())
        WriteLog("CNUVApp::TouchFileNoAttribs(...) called");
    CreateMarkFile(path, FILE_ATTRIBUTE_NORMAL);
}

void CNUVApp::AppendRunEntriesToErrorFile()
{
    if (IsLoggingEnabled())
        WriteLog("CNUVApp::AppendRunEntriesToErrorFile(...) called");
    RestoreRunList();
    CLineFile runList;
    if (!runList.Open(kRunList, CLineFile::modeRead)) {
        if (IsLoggingEnabled())
            WriteLog("CNUVApp::AppendRunEntriesToErrorFile(...) error opening run.nuv for reading");
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
    if (IsLoggingEnabled())
        WriteLog("CNUVApp::AppendRunNUVtoLOG(...) called");
    RestoreRunList();
    CLineFile runList;
    CLineFile diskette;
    if (!runList.Open(kRunList, CLineFile::modeRead) || !diskette.Open(kDisketteLog, CLineFile::modeAppend)) {
        if (IsLoggingEnabled())
            WriteLog("CNUVApp::AppendRunEntriesToLog(...) error opening run.nuv or log file");
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
    if (IsLoggingEnabled())
        WriteLog("CNUVApp::GetSystemInformation(...) called");
    ZeroMemory(&m_osVersion, sizeof m_osVersion);
    m_osVersion.dwOSVersionInfoSize = sizeof m_osVersion;
    GetVersionExA(&m_osVersion);
}

OSFamily CNUVApp::GetOSFamily() const
{
    return m_osVersion.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS ? OSFamily9x : OSFamilyNT;
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

void CNUVApp::SetSystemShutdown(BOOL set, BOOL final)
{
    if (IsLoggingEnabled()) {
        char line[96];
        std::snprintf(line, sizeof line, "CNUVApp::SetSystemShutdown(...) called [bSet=%s,bFinal=%s]", BoolText(set),
                      BoolText(final));
        WriteLog(line);
    }
    m_shutdownRequested = set;
    m_shutdownFinal = final;
}

BOOL CNUVApp::GetSystemShutdownFinal()
{
    if (m_controlManager.IsLastEntry()) {
        if (IsLoggingEnabled()) {
            WriteLog("CNUVApp::GetSystemShutdownFinal(...) called");
            WriteLog("\tIsLastEntry(...) == TRUE rule applied");
        }
        return TRUE;
    }
    return m_shutdownFinal;
}

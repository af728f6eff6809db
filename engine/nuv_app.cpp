#include "nuv_app.h"

#include "line_file.h"
#include "local_time.h"
#include "nuv_dlg.h"
#include "run_list_file.h"
#include "shared_file.h"
#include "text.h"
#include "time_stamp_text.h"
#include "wininit_text.h"

#include "pause.h"

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

const char kRunKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const char* const kRunValues[] = {"Velk NUV", "Velk NUV2", "Velk NUV3"};
const char kWinlogonKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
const char kEngineFiles[] = "C:\\Velk\\NUV\\*";
const char kEngineFilesFolder[] = "C:\\Velk\\NUV\\";
const char kEngineProgram[] = "NUV.EXE";
const char kEngineFolderPath[] = "\\Velk\\NUV";
const char kEngineProgramPath[] = "\\Velk\\NUV\\NUV.exe";
const char kFinishedMarkFile[] = "C:\\Velk\\nuv.dun";
const char kWininitName[] = "\\WININIT.INI";
const DWORD kRegistryCleanupPauseMs = 20000;
// Lets the system tests take the restart-file path that the 9x family needs: Wine's
// MoveFileEx schedules deletions in both families.
const char kNoDelayedMoveVariable[] = "VELK_TEST_NO_DELAYED_MOVE";

bool IsDelayedMoveDisabledForTest()
{
    char value[8] = "";
    const DWORD length = GetEnvironmentVariableA(kNoDelayedMoveVariable, value, sizeof value);
    return length > 0 && length < sizeof value && value[0] == '1';
}

std::string GetSystemErrorText(DWORD error)
{
    char text[257] = "";
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                        text, 256, nullptr);
    std::string message(text, length < 256 ? length : 256);
    // The system's text ends in CR LF; the error file's record adds its own.
    while (!message.empty() && (message[message.size() - 1] == '\n' || message[message.size() - 1] == '\r'))
        message.erase(message.size() - 1);
    return message;
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
    if (m_shutdownRequested)
        RestartSystem();
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

BOOL CNUVApp::SetPrivilege(HANDLE token, const std::string& privilege, BOOL enable)
{
    if (IsLoggingEnabled())
        WriteLog("CNUVApp::SetPrivilege(...) called");
    LUID luid;
    if (!LookupPrivilegeValueA(nullptr, privilege.c_str(), &luid))
        return FALSE;
    TOKEN_PRIVILEGES wanted = {};
    wanted.PrivilegeCount = 1;
    wanted.Privileges[0].Luid = luid;
    wanted.Privileges[0].Attributes = 0;
    TOKEN_PRIVILEGES previous = {};
    DWORD previousSize = sizeof previous;
    AdjustTokenPrivileges(token, FALSE, &wanted, sizeof wanted, &previous, &previousSize);
    if (GetLastError() != ERROR_SUCCESS)
        return FALSE;
    previous.PrivilegeCount = 1;
    previous.Privileges[0].Luid = luid;
    if (enable)
        previous.Privileges[0].Attributes |= SE_PRIVILEGE_ENABLED;
    else
        previous.Privileges[0].Attributes &= ~static_cast<DWORD>(SE_PRIVILEGE_ENABLED);
    AdjustTokenPrivileges(token, FALSE, &previous, previousSize, nullptr, nullptr);
    return GetLastError() == ERROR_SUCCESS ? TRUE : FALSE;
}

void CNUVApp::ResetNTAutoLogon()
{
    if (IsLoggingEnabled())
        WriteLog("CNUVApp::ResetNTAutoLogon(...) called");
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kWinlogonKey, 0, KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY, &key) !=
        ERROR_SUCCESS)
        return;
    const char one[] = "1";
    RegSetValueExA(key, "AutoAdminLogon", 0, REG_SZ, reinterpret_cast<const BYTE*>(one), sizeof one);
    RegCloseKey(key);
}

void CNUVApp::RestartSystem()
{
    if (GetOSFamily() == OSFamilyNT) {
        if (IsLoggingEnabled())
            WriteLog("CNUVApp::WINNT detected.  Setting reboot privileges...");
        HANDLE token = nullptr;
        if (OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
            SetPrivilege(token, SE_SHUTDOWN_NAME, TRUE);
            CloseHandle(token);
        }
        if (IsSilentModeEnabled())
            ResetNTAutoLogon();
    }
    if (m_devModeActive && GetDevMode()->GetSkipReboots())
        return;
    if (IsLoggingEnabled())
        WriteLog("CNUVApp::ExitWindowsEx(...) shutting down system.");
    if (m_devModeActive && !m_shutdownFinal)
        GetDevMode()->Save();
    CallExitWindows();
}

void CNUVApp::CallExitWindows()
{
    ExitWindowsEx(EWX_REBOOT, 0);
}

BOOL CNUVApp::DeleteFiles(CNUVDlg*)
{
    if (IsLoggingEnabled())
        WriteLog("CNUVApp::DeleteFiles(...) called");
    if (!m_devModeActive) {
        if (IsLoggingEnabled())
            WriteLog("CNUVApp::DeleteFiles(...) sleeping 20 seconds before registry cleanup");
        PauseMilliseconds(kRegistryCleanupPauseMs);
    }

    HKEY key = nullptr;
    LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_WRITE, &key);
    if (result == ERROR_SUCCESS) {
        for (const char* value : kRunValues)
            result = RegDeleteValueA(key, value);
        RegCloseKey(key);
    }
    if (result != ERROR_SUCCESS)
        WriteErrMsg("CNUVApp::DeleteFiles() Registry Error: " + GetSystemErrorText(static_cast<DWORD>(result)));

    if (m_devModeActive && GetDevMode()->GetDisableEngineCleanup()) {
        TouchFile(kFinishedMarkFile);
        return TRUE;
    }

    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(kEngineFiles, &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || IsSameText(found.cFileName, kEngineProgram))
                continue;
            const std::string path = std::string(kEngineFilesFolder) + found.cFileName;
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(path.c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    SetFileAttributesA(kRunList, FILE_ATTRIBUTE_HIDDEN);
    if (GetOSFamily() == OSFamily9x) {
        RemoveFileAtReboot(kEngineFolderPath);
        RemoveFileAtReboot(kEngineProgramPath);
    } else {
        RemoveFileAtReboot(kEngineProgramPath);
        RemoveFileAtReboot(kEngineFolderPath);
    }
    SetFileAttributesA(kEngineFolderPath, FILE_ATTRIBUTE_HIDDEN);
    TouchFile(kFinishedMarkFile);
    return TRUE;
}

void CNUVApp::RemoveFileAtReboot(const std::string& path)
{
    if (IsLoggingEnabled())
        WriteLog("CNUVApp::RemoveFileAtReboot(...) called");
    if (!IsDelayedMoveDisabledForTest() && MoveFileExA(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
        return;
    std::string shortPath;
    GetShortPathForm(path, shortPath);
    // Without a short form the path is written as given: a long name may still work,
    // an empty one would delete nothing.
    if (shortPath.empty())
        shortPath = path;
    char windows[257] = "";
    const UINT length = GetWindowsDirectoryA(windows, sizeof windows);
    if (length == 0 || length >= sizeof windows)
        return;
    const std::string wininit = std::string(windows) + kWininitName;
    std::vector<std::string>* lines = ReadTextLines(wininit);
    WriteTextLines(AddWininitDeletion(*lines, shortPath), wininit);
    delete lines;
}

void CNUVApp::GetShortPathForm(const std::string& path, std::string& shortPath)
{
    const std::string::size_type slash = path.rfind('\\');
    if (slash == std::string::npos)
        return;
    const std::string folder = path.substr(0, slash);
    char buffer[260] = "";
    const DWORD length = GetShortPathNameA(folder.empty() ? "\\" : folder.c_str(), buffer, sizeof buffer);
    if (length == 0 || length >= sizeof buffer)
        return;
    std::string shortFolder(buffer, length);
    if (!shortFolder.empty() && shortFolder[shortFolder.size() - 1] == '\\')
        shortFolder.erase(shortFolder.size() - 1);
    shortPath = shortFolder + "\\" + path.substr(slash + 1);
}

std::vector<std::string>* CNUVApp::ReadTextLines(const std::string& path)
{
    std::string bytes;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        char chunk[4096];
        DWORD got = 0;
        while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0)
            bytes.append(chunk, got);
        CloseHandle(file);
    }
    return new std::vector<std::string>(SplitWininitBytes(bytes));
}

void CNUVApp::WriteTextLines(const std::vector<std::string>& lines, const std::string& path)
{
    // Created or emptied, then written in one go.
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    const std::string bytes = JoinWininitLines(lines);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

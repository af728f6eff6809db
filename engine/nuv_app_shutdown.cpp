// The application object's restart and the engine's removal at the end of the
// installation: the restart request, the restart itself, and DeleteFiles with the
// deletions scheduled for the next start.
#include "nuv_app.h"

#include "engine_paths.h"
#include "file_bytes.h"
#include "file_rewrite.h"
#include "pause.h"
#include "registry_view.h"
#include "system_error_text.h"
#include "text.h"
#include "wininit_text.h"

#include <cstdio>

namespace {

const char kRunKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const char* const kRunValues[] = {"Velk NUV", "Velk NUV2", "Velk NUV3"};
const char kWinlogonKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
const char kRegistryErrorPrefix[] = "CNUVApp::DeleteFiles() Registry Error: ";
const DWORD kRegistryCleanupPauseMs = 20000;

BOOL g_delayedDeletionAvailable = TRUE;

const char kWininitError[] = "CNUVApp::RemoveFileAtReboot() WININIT.INI Error: ";

// The names WININIT.INI is replaced through, in its own folder.
ReplacementNames GetWininitReplacement(const std::string& folder)
{
    return {folder + kWininitRewriteName, folder + kWininitAsideName};
}

const char* BoolText(BOOL value)
{
    return value ? "TRUE" : "FALSE";
}

} // namespace

void SetDelayedDeletionAvailable(BOOL available)
{
    g_delayedDeletionAvailable = available;
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
        Log("CNUVApp::GetSystemShutdownFinal(...) called");
        Log("\tIsLastEntry(...) == TRUE rule applied");
        return TRUE;
    }
    return m_shutdownFinal;
}

BOOL CNUVApp::SetPrivilege(HANDLE token, const std::string& privilege, BOOL enable)
{
    Log("CNUVApp::SetPrivilege(...) called");
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
    Log("CNUVApp::ResetNTAutoLogon(...) called");
    HKEY key = nullptr;
    const REGSAM access = KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY | kRegistryView;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kWinlogonKey, 0, access, &key) != ERROR_SUCCESS)
        return;
    const char one[] = "1";
    RegSetValueExA(key, "AutoAdminLogon", 0, REG_SZ, reinterpret_cast<const BYTE*>(one), sizeof one);
    RegCloseKey(key);
}

void CNUVApp::RestartSystem()
{
    if (GetOSFamily() == OSFamilyNT) {
        Log("CNUVApp::WINNT detected.  Setting reboot privileges...");
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
    Log("CNUVApp::ExitWindowsEx(...) shutting down system.");
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
    Log("CNUVApp::DeleteFiles(...) called");
    if (!m_devModeActive) {
        Log("CNUVApp::DeleteFiles(...) sleeping 20 seconds before registry cleanup");
        PauseMilliseconds(kRegistryCleanupPauseMs);
    }

    HKEY key = nullptr;
    LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_WRITE | kRegistryView, &key);
    if (result == ERROR_SUCCESS) {
        for (const char* value : kRunValues)
            result = RegDeleteValueA(key, value);
        RegCloseKey(key);
    }
    if (result != ERROR_SUCCESS)
        WriteErrMsg(kRegistryErrorPrefix + GetSystemErrorText(static_cast<DWORD>(result)));

    if (m_devModeActive && GetDevMode()->GetDisableEngineCleanup()) {
        TouchFile(kFinishedMark);
        return TRUE;
    }

    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(kEngineFilesPattern, &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || IsSameText(found.cFileName, kEngineProgramName))
                continue;
            const std::string path = std::string(kEngineFilesFolder) + found.cFileName;
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(path.c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    SetFileAttributesA(kRunListPath, FILE_ATTRIBUTE_HIDDEN);
    // Each new WININIT.INI line goes first, so on the 9x family the folder is named
    // first and the program file ends up above it; the NT family keeps the call order.
    if (GetOSFamily() == OSFamily9x) {
        RemoveFileAtReboot(kEngineFolder);
        RemoveFileAtReboot(kEngineProgram);
    } else {
        RemoveFileAtReboot(kEngineProgram);
        RemoveFileAtReboot(kEngineFolder);
    }
    SetFileAttributesA(kEngineFolder, FILE_ATTRIBUTE_HIDDEN);
    TouchFile(kFinishedMark);
    return TRUE;
}

void CNUVApp::RemoveFileAtReboot(const std::string& path)
{
    Log("CNUVApp::RemoveFileAtReboot(...) called");
    if (g_delayedDeletionAvailable && MoveFileExA(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
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
    // The file holds other installers' pending renames: a rewrite that a cut left
    // between its renames is put back first, and one that cannot be is not written over.
    const std::vector<ReplacementNames> replacement = {GetWininitReplacement(windows)};
    DWORD error = ERROR_SUCCESS;
    // Missing is its state after every start of the system, which carries it out: a
    // copy alone beside it is left from a replacement cut off after its renames.
    if (RestoreReplacedFile(wininit, replacement, LoneAsideCopy::Delete, error) == ReplacedFileState::Stuck) {
        WriteErrMsg(kWininitError + DescribeStuckFailure(wininit, error));
        return;
    }
    std::vector<std::string>* lines = ReadTextLines(wininit);
    if (!lines) {
        WriteErrMsg(kWininitError + DescribeReadFailure(wininit, GetLastError()));
        return;
    }
    const std::string failure = WriteTextLines(AddWininitDeletion(*lines, shortPath), wininit);
    delete lines;
    if (!failure.empty())
        WriteErrMsg(kWininitError + failure);
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
    // A file that is there but cannot be read is not rewritten from nothing.
    std::string bytes;
    if (!ReadWholeFile(path, bytes)) {
        const DWORD error = GetLastError();
        if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
            SetLastError(error);
            return nullptr;
        }
    }
    return new std::vector<std::string>(SplitWininitBytes(bytes));
}

std::string CNUVApp::WriteTextLines(const std::vector<std::string>& lines, const std::string& path)
{
    // Never emptied in place: a cut or a failed write would cost the lines of others.
    const std::string::size_type slash = path.rfind('\\');
    const ReplacementNames names = GetWininitReplacement(slash == std::string::npos ? "" : path.substr(0, slash));
    return ReplaceWholeFile(path, JoinWininitLines(lines), names.rewritePath, names.asidePath);
}

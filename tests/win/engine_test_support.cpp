#include "engine_test_support.h"

#include "file_bytes.h"
#include "local_time.h"
#include "message_box.h"
#include "pause.h"
#include "run_list_file.h"

#include <cctype>

namespace {
std::vector<unsigned long>* g_pauses = nullptr;

std::vector<std::string> g_boxes;
int RecordBox(HWND, const std::string& text, const std::string&, UINT)
{
    g_boxes.push_back(text);
    return IDOK;
}
}

void RecordPauseForTest(unsigned long milliseconds)
{
    if (g_pauses)
        g_pauses->push_back(milliseconds);
}

const std::vector<std::string>& GetShownBoxes()
{
    return g_boxes;
}

std::string ReadWholeFile(const std::string& path)
{
    std::string bytes;
    return ReadWholeFile(path, bytes) ? bytes : "<missing>";
}

void WriteWholeFile(const std::string& path, const std::string& bytes)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

bool FileExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void SetWriteTime(const std::string& path, int year, int month, int day, int hour)
{
    SYSTEMTIME local = {};
    local.wYear = static_cast<WORD>(year);
    local.wMonth = static_cast<WORD>(month);
    local.wDay = static_cast<WORD>(day);
    local.wHour = static_cast<WORD>(hour);
    FILETIME localTime;
    FILETIME time;
    SystemTimeToFileTime(&local, &localTime);
    LocalFileTimeToFileTime(&localTime, &time);
    HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    SetFileTime(file, nullptr, nullptr, &time);
    CloseHandle(file);
}

void DeleteTreeForTest(const std::string& path)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            const std::string child = path + "\\" + name;
            // A link a test left is not followed: what it leads to is not the test's.
            if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
                continue;
            SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                DeleteTreeForTest(child);
            else
                DeleteFileA(child.c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(path.c_str());
}

std::string ToWindowsPath(const std::string& buildPath)
{
    std::string path = "Z:" + buildPath;
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return path;
}

namespace {

typedef LONG(__cdecl* UnixSpawnProc)(char* const argv[], int wait);
typedef char*(__cdecl* UnixFileNameProc)(const WCHAR* path);

// The Unix path Wine gives a Windows path ("" outside Wine).
std::string GetUnixPath(const std::string& windowsPath)
{
    const auto unixName = reinterpret_cast<UnixFileNameProc>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (!unixName)
        return std::string();
    const std::wstring wide(windowsPath.begin(), windowsPath.end());
    char* name = unixName(wide.c_str());
    const std::string path = name ? name : "";
    if (name)
        HeapFree(GetProcessHeap(), 0, name);
    return path;
}

// Runs a Unix program to its end; whether it could be started.
bool RunUnixCommand(std::vector<std::string> arguments)
{
    const auto spawn = reinterpret_cast<UnixSpawnProc>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "__wine_unix_spawnvp")));
    if (!spawn)
        return false;
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(&argument[0]);
    argv.push_back(nullptr);
    return spawn(argv.data(), 1) == 0;
}

} // namespace

CUnixLink::CUnixLink(const std::string& target, const std::string& link)
{
    const std::string unixTarget = GetUnixPath(target);
    if (link.size() == 2 && link[1] == ':') {
        // Drive letters are links in the prefix's dosdevices folder, beside "c:".
        const std::string drive = GetUnixPath("C:\\");
        const std::string::size_type at = drive.rfind("/c:");
        if (at != std::string::npos)
            m_unixLink = drive.substr(0, at + 1) + static_cast<char>(std::tolower(link[0])) + ":";
    } else {
        m_unixLink = GetUnixPath(link);
    }
    if (unixTarget.empty() || m_unixLink.empty())
        return;
    m_made = RunUnixCommand({"ln", "-s", unixTarget, m_unixLink});
}

CUnixLink::~CUnixLink()
{
    if (m_made)
        RunUnixCommand({"rm", "-f", m_unixLink});
}

CHolder::CHolder(const std::string& path, bool lock)
{
    std::string command = ToWindowsPath(VELK_TEST_HOLDER) + (lock ? " /lock " : " ") + path;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    // Started suspended so that its ready event exists before it can look for it.
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &startup,
                        &process)) {
        ADD_FAILURE() << "the holder did not start (" << GetLastError() << ")";
        return;
    }
    m_process = process.hProcess;
    const std::string name = "hold_file ready " + std::to_string(process.dwProcessId);
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, name.c_str());
    ResumeThread(process.hThread);
    CloseHandle(process.hThread);
    if (!ready) {
        ADD_FAILURE() << "no ready event for the holder (" << GetLastError() << ")";
        return;
    }
    // The holder sets it once the file is held; ended first, it could not hold it.
    const HANDLE waits[] = {ready, m_process};
    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
        DWORD code = 0;
        GetExitCodeProcess(m_process, &code);
        ADD_FAILURE() << "the holder could not hold " << path << " (exit code " << code << ")";
    }
    CloseHandle(ready);
}

bool CHolder::IsHolding() const
{
    return m_process && WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT;
}

void CHolder::Release()
{
    if (!m_process)
        return;
    TerminateProcess(m_process, 0);
    WaitForSingleObject(m_process, INFINITE);
    CloseHandle(m_process);
    m_process = nullptr;
}

LocalTimeValues GetFixedTime()
{
    LocalTimeValues now;
    now.year = 2026;
    now.month = 12;
    now.day = 6;
    now.hour = 18;
    now.minute = 25;
    now.second = 4;
    return now;
}

void EngineTest::SetUp()
{
    DeleteTreeForTest("C:\\VELK");
    ASSERT_TRUE(CreateDirectoryA("C:\\VELK", nullptr));
    ASSERT_TRUE(CreateDirectoryA("C:\\VELK\\NUV", nullptr));
    SetLocalTimeSource(GetFixedTime);
    g_pauses = &pauseLengths;
    SetPauseHook(RecordPauseForTest);
    SetAtomicReplaceAvailable(-1);
    g_boxes.clear();
    SetMessageBoxHook(RecordBox);
}

void EngineTest::TearDown()
{
    SetLocalTimeSource(nullptr);
    SetPauseHook(nullptr);
    g_pauses = nullptr;
    SetAtomicReplaceAvailable(-1);
    SetMessageBoxHook(nullptr);
    DeleteTreeForTest("C:\\VELK");
}

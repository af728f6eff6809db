#include "engine_test_support.h"

#include "file_bytes.h"
#include "local_time.h"
#include "message_box.h"
#include "pause.h"
#include "run_list_file.h"

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

CHolder::CHolder(const std::string& path, bool lock)
{
    std::string command = ToWindowsPath(VELK_TEST_HOLDER) + (lock ? " /lock " : " ") + path;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return;
    CloseHandle(process.hThread);
    m_process = process.hProcess;
    // Held once an open that shares nothing is refused.
    for (;;) {
        HANDLE probe = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (probe == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION)
            break;
        if (probe != INVALID_HANDLE_VALUE)
            CloseHandle(probe);
        if (WaitForSingleObject(m_process, 10) != WAIT_TIMEOUT)
            break;
    }
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

#include "engine_test_support.h"

#include "local_time.h"
#include "pause.h"
#include "run_list_file.h"

namespace {
int* g_pauseCounter = nullptr;
void CountPause(unsigned long)
{
    if (g_pauseCounter)
        ++*g_pauseCounter;
}
}

std::string ReadWholeFile(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "<missing>";
    std::string bytes;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0)
        bytes.append(chunk, got);
    CloseHandle(file);
    return bytes;
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
    g_pauseCounter = &pauses;
    SetPauseHook(CountPause);
    SetAtomicReplaceAvailable(-1);
}

void EngineTest::TearDown()
{
    SetLocalTimeSource(nullptr);
    SetPauseHook(nullptr);
    g_pauseCounter = nullptr;
    SetAtomicReplaceAvailable(-1);
    DeleteTreeForTest("C:\\VELK");
}

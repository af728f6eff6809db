// "stamp FILE": appends one high-resolution time stamp (microseconds of the performance
// counter, the same clock in every process of the PC) to FILE and ends. Windowed, as
// installers are, so that its start costs no console.
#include <windows.h>

#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int)
{
    LARGE_INTEGER now;
    LARGE_INTEGER frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    const std::string path = commandLine ? commandLine : "";
    if (path.empty() || frequency.QuadPart == 0)
        return 2;
    const long long microseconds = now.QuadPart / frequency.QuadPart * 1000000LL +
                                   now.QuadPart % frequency.QuadPart * 1000000LL / frequency.QuadPart;
    const std::string line = std::to_string(microseconds) + "\r\n";
    // The last program's handle may not be closed yet under a loaded system: a stamp lost
    // would cost the whole walk.
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 200 && file == INVALID_HANDLE_VALUE; ++attempt) {
        file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            Sleep(5);
    }
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == line.size() ? 0 : 1;
}

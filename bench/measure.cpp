// "measure RESULT [/box] COMMAND LINE": runs the command and appends to RESULT one line
// "microseconds exit-code peak-working-set peak-private-bytes". The time runs from just
// before the start to the end of the process or, with /box, to the moment its first
// dialog box (the completion message of a program that shows one) appears; the box is
// then closed with its OK button. The peaks are the last the system reported while the
// process ran, looked at every few milliseconds. Windowed, so it adds no console.
#include <windows.h>
#include <psapi.h>

#include <string>

namespace {

long long NowMicroseconds()
{
    LARGE_INTEGER now;
    LARGE_INTEGER frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return now.QuadPart / frequency.QuadPart * 1000000LL +
           now.QuadPart % frequency.QuadPart * 1000000LL / frequency.QuadPart;
}

struct BoxSearch
{
    DWORD processId;
    HWND box;
};

BOOL CALLBACK FindBox(HWND window, LPARAM parameter)
{
    BoxSearch* search = reinterpret_cast<BoxSearch*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char className[16] = "";
    if (owner == search->processId && IsWindowVisible(window) &&
        GetClassNameA(window, className, sizeof className) > 0 && std::string(className) == "#32770") {
        search->box = window;
        return FALSE;
    }
    return TRUE;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int)
{
    std::string rest = commandLine ? commandLine : "";
    const std::string::size_type blank = rest.find(' ');
    if (blank == std::string::npos)
        return 2;
    const std::string resultPath = rest.substr(0, blank);
    rest.erase(0, blank + 1);
    const bool waitForBox = rest.compare(0, 5, "/box ") == 0;
    if (waitForBox)
        rest.erase(0, 5);

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::string command = rest;
    const long long started = NowMicroseconds();
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return 3;
    long long ended = 0;
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof memory;
    for (;;) {
        PROCESS_MEMORY_COUNTERS now = {};
        now.cb = sizeof now;
        if (GetProcessMemoryInfo(process.hProcess, &now, sizeof now) && now.PeakWorkingSetSize > 0)
            memory = now;
        if (WaitForSingleObject(process.hProcess, 5) == WAIT_OBJECT_0)
            break;
        if (waitForBox && ended == 0) {
            BoxSearch search = {process.dwProcessId, nullptr};
            EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
            if (search.box) {
                ended = NowMicroseconds();
                PostMessageA(search.box, WM_COMMAND, IDOK, 0);
            }
        }
    }
    if (ended == 0)
        ended = NowMicroseconds();
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);

    const std::string line = std::to_string(ended - started) + " " + std::to_string(static_cast<long>(code)) + " " +
                             std::to_string(static_cast<unsigned long>(memory.PeakWorkingSetSize)) + " " +
                             std::to_string(static_cast<unsigned long>(memory.PeakPagefileUsage)) + "\r\n";
    HANDLE file = CreateFileA(resultPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 4;
    DWORD written = 0;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(file);
    return 0;
}

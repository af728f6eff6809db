#include "tevrost.h"

#include "local_time.h"
#include "message_box.h"
#include "pause.h"
#include "system_error_text.h"
#include "tevrost_text.h"
#include "text.h"
#include "time_stamp_text.h"

#include <cstdio>

namespace {

const char kUsage[] = "USAGE: Tevrost  xx  command_line\n  Delays xx (>0) seconds, then launches command_line\n"
                      "    using Win32 CreateProcess()\n";
const char kTitle[] = "Tevrost, Ver: A01";
const char kWindowClass[] = "TevrostWndClass";
const char kLogFile[] = "C:\\VELK\\Tevrost.Log";
const char* const kSpinner[] = {"|", "/", "-", "\\"};
const int kWindowWidth = 350;
const int kWindowHeight = 70;
const DWORD kQuarterSecondMs = 231;
const DWORD kLastPauseMs = 250;
const int kLogRetries = 21;
const DWORD kLogRetryMs = 100;

const char kDelayStart[] = "Delay ";
const char kDelayEnd[] = " Seconds...";
const char kNoClass[] = "Unable to register window class, Warning Only";
const char kLaunching[] = "Launching '%s'...";
const char kStarted[] = "Successful Command Line Start";
const char kStartFailed[] = "Command Line Start Failed: (%d) %s";

void PumpMessages()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

void WriteDelayLog(const std::string& text)
{
    std::string message = text;
    while (!message.empty() && (message.back() == '\r' || message.back() == '\n'))
        message.pop_back();
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt <= kLogRetries; ++attempt) {
        file = CreateFileA(kLogFile, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_SHARING_VIOLATION)
            break;
        // Another copy writes its entry: wait a moment, keeping the window alive.
        PauseMilliseconds(kLogRetryMs);
        PumpMessages();
    }
    if (file == INVALID_HANDLE_VALUE)
        return;
    std::string time = FormatCalendarTime(GetLocalTimeValues());
    time.pop_back();
    char id[16];
    std::snprintf(id, sizeof id, "%lu", static_cast<unsigned long>(GetCurrentProcessId()));
    const std::string entry = std::string("[") + id + "] " + time + "\r\n    " + message + "\r\n";
    SetFilePointer(file, 0, nullptr, FILE_END);
    DWORD written = 0;
    WriteFile(file, entry.data(), static_cast<DWORD>(entry.size()), &written, nullptr);
    CloseHandle(file);
}

LRESULT CALLBACK CountdownWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    if (message == WM_SYSCOMMAND) {
        const WPARAM command = wParam & 0xFFF0;
        if (command == SC_SIZE || command == SC_MINIMIZE || command == SC_MAXIMIZE)
            return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// The countdown window: made at the first call, drawn anew at every call.
class CCountdownWindow
{
public:
    CCountdownWindow(HINSTANCE instance, int showCommand, const std::string& program, std::uint32_t position)
        : m_instance(instance), m_showCommand(showCommand), m_program(program), m_position(position)
    {
    }

    void PaintCountdown(std::uint32_t elapsed, std::uint32_t count)
    {
        if (m_disabled)
            return;
        if (!m_window && !Create())
            return;
        const std::string dots = GetCountdownDots(elapsed, count);
        std::string text;
        if (elapsed != count) {
            text = std::string(kSpinner[m_spinner]) + dots;
            m_spinner = (m_spinner + 1) % 4;
        }
        HDC dc = GetDC(m_window);
        if (!dc)
            return;
        RECT client;
        GetClientRect(m_window, &client);
        FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        if (!text.empty()) {
            HGDIOBJ previous = SelectObject(dc, GetStockObject(OEM_FIXED_FONT));
            TextOutA(dc, 10, 10, text.c_str(), static_cast<int>(text.size()));
            SelectObject(dc, previous);
        }
        ReleaseDC(m_window, dc);
    }

private:
    bool Create()
    {
        WNDCLASSA windowClass = {};
        windowClass.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
        windowClass.lpfnWndProc = CountdownWindowProc;
        windowClass.hInstance = m_instance;
        windowClass.hCursor = LoadCursorA(nullptr, IDC_APPSTARTING);
        windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
        windowClass.lpszClassName = kWindowClass;
        if (!RegisterClassA(&windowClass)) {
            WriteDelayLog(kNoClass);
            m_disabled = true;
            return false;
        }
        // Several copies at once stand apart by their command lines.
        const int corner = static_cast<int>(m_position % 20) * 10 + 50;
        const std::string title = std::string(kTitle) + " [" + m_program + "]";
        m_window = CreateWindowA(kWindowClass, title.c_str(), WS_OVERLAPPEDWINDOW, corner, corner, kWindowWidth,
                                 kWindowHeight, nullptr, nullptr, m_instance, nullptr);
        if (!m_window) {
            m_disabled = true;
            return false;
        }
        ShowWindow(m_window, m_showCommand);
        SetCursor(LoadCursorA(nullptr, IDC_APPSTARTING));
        return true;
    }

    HINSTANCE m_instance;
    int m_showCommand;
    std::string m_program;
    std::uint32_t m_position;
    HWND m_window = nullptr;
    bool m_disabled = false;
    int m_spinner = 0;
};

} // namespace

int RunTevrost(HINSTANCE instance, const std::string& commandLine, int showCommand)
{
    const TevrostCommand parsed = ParseTevrostCommandLine(commandLine);
    if (parsed.usage) {
        ShowMessageBox(nullptr, kUsage, kTitle, MB_OK | MB_ICONINFORMATION);
        return 1;
    }
    WriteDelayLog(kDelayStart + std::to_string(parsed.count) + kDelayEnd);
    CCountdownWindow window(instance, showCommand, parsed.program, GetPositionValue(commandLine));
    for (std::uint32_t elapsed = 0; elapsed < parsed.count; ++elapsed) {
        for (int quarter = 0; quarter < 4; ++quarter) {
            window.PaintCountdown(elapsed, parsed.count);
            PauseMilliseconds(kQuarterSecondMs);
            PumpMessages();
        }
    }
    window.PaintCountdown(parsed.count, parsed.count);
    PauseMilliseconds(kLastPauseMs);

    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    GetStartupInfoA(&startup);
    WriteDelayLog(FormatMessageText(kLaunching, parsed.command));
    std::vector<char> command = MakeWritableCopy(parsed.command);
    PROCESS_INFORMATION process;
    ZeroMemory(&process, sizeof process);
    if (CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        WriteDelayLog(kStarted);
    } else {
        const DWORD error = GetLastError();
        WriteDelayLog(FormatMessageText(kStartFailed, GetSystemErrorText(error, kUserDefaultLanguage, 511),
                                        static_cast<long>(error)));
    }
    return 0;
}

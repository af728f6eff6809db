// The engine with its walk timed, for bench/run; never shipped. Every mark of the walk
// (framework/step_marks.h) is kept with the performance counter's time in microseconds,
// the clock stamp.exe writes. The work of the progress window's thread is timed too: once
// the window is there, it and its controls are subclassed, and each message they take
// (outermost only: a message sent while another is handled belongs to that one) is kept
// as "ui KIND begin end". When the walk has ended the marks go to "C:\bench\steps.txt",
// the worker's as lines "step microseconds".
#include "control_manager.h"
#include "nuv_app.h"
#include "nuv_dlg.h"
#include "resource.h"
#include "step_marks.h"

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace {

const char kStepsFile[] = "C:\\bench\\steps.txt";

// What the progress window's thread spends its time on; repaints by window, in the
// order of g_windows.
enum UiWork { kProgressStep, kDotsTick, kTopmostTick, kOtherMessage, kPaint };
const char* const kUiWorkNames[] = {"progress",    "dots",      "topmost",   "other",
                                    "paint-dialog", "paint-bar", "paint-dots", "paint-text"};

struct UiMark
{
    int work;
    long long begin;
    long long end;
};

std::vector<std::pair<int, long long>> g_marks;
std::vector<UiMark> g_uiMarks;
CRITICAL_SECTION g_lock;
LARGE_INTEGER g_frequency;
bool g_subclassed = false;

// The subclassed windows' own procedures, and the depth of messages being handled.
const int kWatched = 4;
HWND g_windows[kWatched];
WNDPROC g_procedures[kWatched];
int g_depth = 0;

long long NowMicroseconds()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart / g_frequency.QuadPart * 1000000LL +
           now.QuadPart % g_frequency.QuadPart * 1000000LL / g_frequency.QuadPart;
}

void WriteMarks()
{
    std::string text;
    EnterCriticalSection(&g_lock);
    for (const auto& mark : g_marks)
        text += std::to_string(mark.first) + " " + std::to_string(mark.second) + "\r\n";
    for (const UiMark& mark : g_uiMarks)
        text += std::string("ui ") + kUiWorkNames[mark.work] + " " + std::to_string(mark.begin) + " " +
                std::to_string(mark.end) + "\r\n";
    LeaveCriticalSection(&g_lock);
    HANDLE file = CreateFileA(kStepsFile, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

int KindOf(int window, UINT message, WPARAM wParam)
{
    if (message == WM_PROGRESS_STEP)
        return kProgressStep;
    if (message == WM_TIMER)
        return wParam == IDT_DOTS ? kDotsTick : wParam == IDT_TOPMOST ? kTopmostTick : kOtherMessage;
    if (message == WM_PAINT || message == WM_ERASEBKGND || message == WM_NCPAINT || message == WM_CTLCOLORSTATIC ||
        message == WM_CTLCOLORDLG || message == WM_PRINTCLIENT)
        return kPaint + window;
    return kOtherMessage;
}

LRESULT CALLBACK TimedProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    WNDPROC own = nullptr;
    int watched = 0;
    for (int i = 0; i < kWatched; ++i)
        if (g_windows[i] == window) {
            own = g_procedures[i];
            watched = i;
        }
    if (!own)
        return DefWindowProcA(window, message, wParam, lParam);
    const bool outermost = g_depth++ == 0;
    const long long begin = outermost ? NowMicroseconds() : 0;
    const LRESULT result = CallWindowProcA(own, window, message, wParam, lParam);
    --g_depth;
    if (outermost) {
        const UiMark mark = {KindOf(watched, message, wParam), begin, NowMicroseconds()};
        EnterCriticalSection(&g_lock);
        g_uiMarks.push_back(mark);
        LeaveCriticalSection(&g_lock);
    }
    return result;
}

// Called on the worker's first mark after the window is up; the window's procedure runs
// on its own thread from then on, and keeps its marks under the lock.
void WatchProgressWindow()
{
    HWND dialog = GetNUVApp() ? GetNUVApp()->GetMainWindow() : nullptr;
    if (!dialog)
        return;
    const HWND windows[kWatched] = {dialog, GetDlgItem(dialog, IDC_PROGRESS_BAR), GetDlgItem(dialog, IDC_PROGRESS_DOTS),
                                    GetDlgItem(dialog, IDC_PROGRESS_TEXT)};
    for (int i = 0; i < kWatched; ++i) {
        g_windows[i] = windows[i];
        g_procedures[i] = windows[i] ? reinterpret_cast<WNDPROC>(GetWindowLongPtrA(windows[i], GWLP_WNDPROC)) : nullptr;
    }
    for (int i = 0; i < kWatched; ++i)
        if (windows[i])
            SetWindowLongPtrA(windows[i], GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(TimedProcedure));
    g_subclassed = true;
}

void KeepMark(WorkStep step)
{
    const long long now = NowMicroseconds();
    EnterCriticalSection(&g_lock);
    g_marks.emplace_back(static_cast<int>(step), now);
    LeaveCriticalSection(&g_lock);
    if (!g_subclassed)
        WatchProgressWindow();
    if (step == WorkStep::WalkEnded)
        WriteMarks();
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    QueryPerformanceFrequency(&g_frequency);
    InitializeCriticalSection(&g_lock);
    // Room for the longest list measured, so that keeping a mark never moves the others.
    g_marks.reserve(1 << 18);
    g_uiMarks.reserve(1 << 18);
    SetStepMarkHook(KeepMark);
    CNUVApp app;
    app.InitInstance(__argc - 1, __argc > 1 ? __argv + 1 : nullptr);
    return 0;
}

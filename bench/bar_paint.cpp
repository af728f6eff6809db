// The progress bar's step and repaint, for bench/run: the whole bar invalidated, as the
// engine did before, against the strip around the moving end the engine invalidates now
// (StepProgressBar). A bar of the dialog's size and styles steps through 100 entries,
// each repaint done at once, themed as Wine draws it by default and in classic chunks
// (the theme turned off by a name no theme has). "bar_paint FILE" writes to FILE one line
// per way: "themed|classic whole|strip MS", the mean per step in milliseconds.
#include "nuv_dlg.h"

#include <windows.h>
#include <commctrl.h>
#include <uxtheme.h>

#include <cstdio>
#include <string>

namespace {

const int kEntries = 100;

double NowMs()
{
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

double MeanStepMs(HWND bar, bool strip)
{
    SendMessageA(bar, PBM_SETRANGE, 0, MAKELPARAM(0, kEntries));
    SendMessageA(bar, PBM_SETPOS, 0, 0);
    SendMessageA(bar, PBM_SETSTEP, 1, 0);
    RedrawWindow(bar, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    const double begin = NowMs();
    for (int step = 0; step < kEntries; ++step) {
        if (strip) {
            StepProgressBar(bar, 0, kEntries);
        } else {
            SendMessageA(bar, WM_SETREDRAW, FALSE, 0);
            SendMessageA(bar, PBM_STEPIT, 0, 0);
            SendMessageA(bar, WM_SETREDRAW, TRUE, 0);
            InvalidateRect(bar, nullptr, TRUE);
        }
        UpdateWindow(bar);
    }
    return (NowMs() - begin) / kEntries;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    if (__argc < 2)
        return 2;
    InitCommonControls();
    HWND window = CreateWindowExA(WS_EX_TOPMOST, "STATIC", "", WS_POPUP | WS_VISIBLE, 700, 0, 300, 60, nullptr, nullptr,
                                  nullptr, nullptr);
    HWND bar = CreateWindowExA(WS_EX_CLIENTEDGE, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE | WS_BORDER, 24, 20, 216, 18,
                               window, nullptr, nullptr, nullptr);
    if (!window || !bar)
        return 1;
    UpdateWindow(window);
    std::string text;
    char line[64];
    for (const char* look : {"themed", "classic"}) {
        if (std::string(look) == "classic")
            SetWindowTheme(bar, L" ", L" ");
        for (bool strip : {false, true}) {
            std::snprintf(line, sizeof line, "%s %s %.3f\r\n", look, strip ? "strip" : "whole", MeanStepMs(bar, strip));
            text += line;
        }
    }
    DestroyWindow(window);
    FILE* file = std::fopen(__argv[1], "wb");
    if (!file)
        return 1;
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && written ? 0 : 1;
}

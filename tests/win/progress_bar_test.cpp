// The progress bar as the engine steps it, repainting only the strip around its moving
// end, shows after every step what a repaint of the whole bar shows: themed, as Wine
// draws it by default, and in the classic chunks of the factory's Windows.
#include "nuv_dlg.h"

#include <commctrl.h>
#include <uxtheme.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The bar's client area as it stands on the screen.
std::vector<unsigned> Pixels(HWND bar)
{
    RECT client;
    GetClientRect(bar, &client);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = client.right;
    info.bmiHeader.biHeight = -client.bottom;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    HDC screen = GetDC(bar);
    HDC memory = CreateCompatibleDC(screen);
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    std::vector<unsigned> pixels;
    if (bitmap && bits) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, client.right, client.bottom, screen, 0, 0, SRCCOPY);
        GdiFlush();
        const unsigned* first = static_cast<const unsigned*>(bits);
        pixels.assign(first, first + client.right * client.bottom);
        SelectObject(memory, old);
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(bar, screen);
    return pixels;
}

} // namespace

TEST(ProgressBarTest, EveryStepShowsWhatAWholeRepaintShows)
{
    InitCommonControls();
    HWND window = CreateWindowExA(WS_EX_TOPMOST, "STATIC", "", WS_POPUP | WS_VISIBLE, 700, 0, 300, 100, nullptr,
                                  nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    // The dialog's bar, 144 x 11 dialog units, beside one repainted whole every time.
    HWND stepped = CreateWindowExA(WS_EX_CLIENTEDGE, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE | WS_BORDER, 24, 20,
                                   216, 18, window, nullptr, nullptr, nullptr);
    HWND whole = CreateWindowExA(WS_EX_CLIENTEDGE, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE | WS_BORDER, 24, 60,
                                 216, 18, window, nullptr, nullptr, nullptr);
    ASSERT_NE(stepped, nullptr);
    ASSERT_NE(whole, nullptr);
    UpdateWindow(window);
    for (bool themed : {true, false}) {
        if (!themed) {
            // A name no theme has turns theming off (Wine refuses the documented empty one).
            SetWindowTheme(stepped, L" ", L" ");
            SetWindowTheme(whole, L" ", L" ");
        }
        for (int entries : {3, 7, 100}) {
            for (HWND bar : {stepped, whole}) {
                SendMessageA(bar, PBM_SETRANGE, 0, MAKELPARAM(0, entries));
                SendMessageA(bar, PBM_SETPOS, 0, 0);
                SendMessageA(bar, PBM_SETSTEP, 1, 0);
                RedrawWindow(bar, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
            }
            // One step more than the entries: the last wraps round to the start.
            for (int step = 1; step <= entries + 1; ++step) {
                StepProgressBar(stepped, 0, entries);
                UpdateWindow(stepped);
                SendMessageA(whole, PBM_STEPIT, 0, 0);
                RedrawWindow(whole, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
                const std::vector<unsigned> got = Pixels(stepped);
                ASSERT_FALSE(got.empty());
                ASSERT_EQ(got, Pixels(whole)) << (themed ? "themed" : "classic") << ", step " << step << " of "
                                              << entries;
            }
        }
    }
    DestroyWindow(window);
}

#include "nuv_dlg.h"

#include "control_manager.h"
#include "dev_mode_dlg.h"
#include "engine_paths.h"
#include "line_file.h"
#include "message_box.h"
#include "nuv_app.h"
#include "progress_bar_strip.h"
#include "resource.h"
#include "text_measure.h"

#include <commctrl.h>

#include <vector>

namespace {

const DWORD kWorkerCloseWaitMs = 10000;
const UINT kDotsPeriodMs = 100;
const UINT kTopmostPeriodMs = 2000;
const char kDevModeMenuText[] = "Dev Mode";

// The dialog whose modal loop runs on this thread, for the keyboard filter.
CNUVDlg* g_modalDialog = nullptr;
HHOOK g_keyboardHook = nullptr;

} // namespace

void StepProgressBar(HWND bar, int low, int high)
{
    // Without redrawing the control would paint itself before it returns, while the
    // worker waits for the answer.
    SendMessageA(bar, WM_SETREDRAW, FALSE, 0);
    const int before = static_cast<int>(SendMessageA(bar, PBM_STEPIT, 0, 0));
    SendMessageA(bar, WM_SETREDRAW, TRUE, 0);
    const int after = before < high ? before + 1 : low;  // the control wraps round at its end
    RECT client;
    if (!GetClientRect(bar, &client))
        return;
    const ScreenRect strip = ProgressBarStripToRepaint({client.left, client.top, client.right, client.bottom}, low,
                                                       high, before, after);
    if (strip.right <= strip.left)
        return;
    const RECT rect = {strip.left, strip.top, strip.right, strip.bottom};
    // The control paints every pixel of the strip; it needs its background erased only
    // where the fill went back.
    InvalidateRect(bar, &rect, after < before);
}

CNUVDlg::CNUVDlg()
    : CDialog(IDD_NUV_DIALOG), m_waitCursor(TRUE), m_devModeDlg(nullptr), m_bar(nullptr), m_dots(nullptr),
      m_barLow(0), m_barHigh(0), m_dotsThatFit(0),
      m_icon(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_NUV)))
{
}

CNUVDlg::~CNUVDlg() = default;

INT_PTR CNUVDlg::DoModal()
{
    InitCommonControls();
    // Keyboard input inside the modal loop goes past the application's filter first.
    g_modalDialog = this;
    g_keyboardHook = SetWindowsHookExA(WH_MSGFILTER, KeyboardFilter, nullptr, GetCurrentThreadId());
    const INT_PTR result = CDialog::DoModal(nullptr);
    if (g_keyboardHook)
        UnhookWindowsHookEx(g_keyboardHook);
    g_keyboardHook = nullptr;
    g_modalDialog = nullptr;
    return result;
}

LRESULT CALLBACK CNUVDlg::KeyboardFilter(int code, WPARAM wParam, LPARAM lParam)
{
    if (code >= 0 && g_modalDialog && GetNUVApp() &&
        GetNUVApp()->ProcessMessageFilter(code, reinterpret_cast<MSG*>(lParam)))
        return 1;
    return CallNextHookEx(g_keyboardHook, code, wParam, lParam);
}

BOOL CNUVDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    CNUVApp* app = GetNUVApp();
    switch (message) {
    case WM_PROGRESS_INIT:
        SendDlgItemMessageA(m_hWnd, IDC_PROGRESS_BAR, PBM_SETRANGE, 0, lParam);
        SendDlgItemMessageA(m_hWnd, IDC_PROGRESS_BAR, PBM_SETPOS, 0, 0);
        SendDlgItemMessageA(m_hWnd, IDC_PROGRESS_BAR, PBM_SETSTEP, 1, 0);
        // Kept rather than asked for: the 9x family's first common controls cannot tell.
        m_barLow = LOWORD(lParam);
        m_barHigh = HIWORD(lParam);
        return SetResult(0);
    case WM_PROGRESS_STEP:
        StepProgressBar(m_bar, m_barLow, m_barHigh);
        return SetResult(0);
    case WM_QUERY_ERRORFLAG:
        return SetResult(app->IsErrorFlagEnabled());
    case WM_SHOW_RESTART:
        m_restartDlg.SetTexts(m_texts.title, m_texts.restart, m_texts.restartButton);
        m_restartDlg.DoModal(m_hWnd);
        return SetResult(0);
    case WM_SHOW_COMPLETION:
        ShowCompletion();
        return SetResult(0);
    case WM_START_TIMER:
        SetTimer(m_hWnd, wParam, static_cast<UINT>(lParam), nullptr);
        return SetResult(0);
    case WM_STOP_TIMER:
        KillTimer(m_hWnd, wParam);
        return SetResult(0);
    case WM_TIMER:
        OnTimer(wParam);
        return TRUE;
    case WM_SYSCOMMAND:
        // Our own item, not one of the system's commands: its id comes whole, low bits
        // included (masking them would turn 1130 into 1120).
        if (wParam == IDM_DEVMODE) {
            OpenDevModeWindow();
            return TRUE;
        }
        return FALSE;
    case WM_LBUTTONDOWN:
        if (app->IsDevModeActive()) {
            // The window has no caption bar: dragging its body moves it.
            PostMessageA(m_hWnd, WM_NCLBUTTONDOWN, HTCAPTION, lParam);
            return TRUE;
        }
        return FALSE;
    case WM_SETCURSOR:
        if (m_waitCursor) {
            SetCursor(LoadCursorA(nullptr, IDC_WAIT));
            return SetResult(TRUE);
        }
        return FALSE;
    case WM_CLOSE:
        if (m_devModeDlg)
            SendMessageA(m_devModeDlg->GetSafeHwnd(), WM_CLOSE, 0, 0);
        EndDialog(IDCANCEL);
        return TRUE;
    case WM_QUERYDRAGICON:
        return SetResult(reinterpret_cast<LRESULT>(m_icon));
    case WM_PAINT:
        if (IsIconic(m_hWnd)) {
            PAINTSTRUCT paint;
            HDC dc = BeginPaint(m_hWnd, &paint);
            RECT client;
            GetClientRect(m_hWnd, &client);
            DrawIcon(dc, (client.right - GetSystemMetrics(SM_CXICON) + 1) / 2,
                     (client.bottom - GetSystemMetrics(SM_CYICON) + 1) / 2, m_icon);
            EndPaint(m_hWnd, &paint);
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}

BOOL CNUVDlg::OnInitDialog()
{
    CNUVApp* app = GetNUVApp();
    app->SetMainWindow(m_hWnd);
    SendMessageA(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_icon));
    SendMessageA(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_icon));
    LoadMessageTexts();
    m_progressText = m_texts.inProgress;
    SetDlgItemTextA(m_hWnd, IDC_PROGRESS_TEXT, m_progressText.c_str());
    SetDlgItemTextA(m_hWnd, IDC_PROGRESS_DOTS, m_dotsText.c_str());
    LayoutProgressWindow();
    m_bar = GetDlgItem(m_hWnd, IDC_PROGRESS_BAR);
    m_dots = GetDlgItem(m_hWnd, IDC_PROGRESS_DOTS);
    // Measured once, not on every tick: a line of dots is as wide as its dots.
    RECT dotsRect;
    GetClientRect(m_dots, &dotsRect);
    const int dotsWidth = dotsRect.right - dotsRect.left;
    m_dotsThatFit = dotsWidth > 0 ? CountCharactersThatFit(m_dots, std::string(dotsWidth + 1, '.'), dotsWidth) : 0;
    SetWindowTextA(m_hWnd, m_texts.title.c_str());
    SetWindowPos(m_hWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);

    if (HMENU menu = GetSystemMenu(m_hWnd, FALSE)) {
        AppendMenuA(menu, MF_STRING, IDM_DEVMODE, kDevModeMenuText);
        DeleteMenu(menu, 1, MF_BYPOSITION);
        EnableMenuItem(menu, 0, MF_BYPOSITION | MF_GRAYED);
    }
    if (app->IsDevModeActive())
        OpenDevModeWindow();
    else
        SetCursor(LoadCursorA(nullptr, IDC_WAIT));

    if (!m_worker.Start(SystemRestoreThread, this))
        PostMessageA(m_hWnd, WM_CLOSE, 0, 0);
    return TRUE;
}

void CNUVDlg::LoadMessageTexts()
{
    CLineFile file;
    if (!file.Open(std::string(kEngineFolder) + "\\" + kMessageTextFile, CLineFile::modeRead))
        return;
    std::vector<std::string> lines;
    std::string line;
    while (file.ReadLine(line))
        lines.push_back(line);
    file.Close();
    ApplyMessageTextLines(lines, m_texts);
}

void CNUVDlg::LayoutProgressWindow()
{
    HWND text = GetDlgItem(m_hWnd, IDC_PROGRESS_TEXT);
    RECT textRect;
    GetWindowRect(text, &textRect);
    MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&textRect), 2);
    const int width = textRect.right - textRect.left;
    const int height = GetTextHeight(text, m_progressText, width);
    const int growth = height - (textRect.bottom - textRect.top);
    MoveWindow(text, textRect.left, textRect.top, width, height, TRUE);
    for (int id : {IDC_PROGRESS_DOTS, IDC_PROGRESS_BAR}) {
        HWND control = GetDlgItem(m_hWnd, id);
        RECT r;
        GetWindowRect(control, &r);
        MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&r), 2);
        MoveWindow(control, r.left, r.top + growth, r.right - r.left, r.bottom - r.top, TRUE);
    }
    RECT window;
    GetWindowRect(m_hWnd, &window);
    const int windowWidth = window.right - window.left;
    const int windowHeight = window.bottom - window.top + growth;
    RECT desktop;
    GetWindowRect(GetDesktopWindow(), &desktop);
    SetWindowPos(m_hWnd, HWND_TOP, desktop.right - windowWidth, 0, windowWidth, windowHeight, 0);
}

void CNUVDlg::OnTimer(UINT_PTR timer)
{
    if (timer == IDT_DOTS) {
        m_dotsText += '.';
        SetWindowTextA(m_dots, m_dotsText.c_str());
        if (m_dotsText.size() > m_dotsThatFit)
            m_dotsText.clear();
    } else if (timer == IDT_RESTART) {
        KillTimer(m_hWnd, IDT_RESTART);
        // A tick after the countdown has closed finds nothing to end.
        m_restartDlg.OnOK();
    } else if (timer == IDT_TOPMOST) {
        SetWindowPos(m_hWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
}

void CNUVDlg::OpenDevModeWindow()
{
    if (!m_devModeDlg) {
        // Development mode is active from here on, for the rest of the run.
        GetNUVApp()->GetDevMode();
        m_devModeDlg = new CDevModeDlg(&m_devModeDlg);
        if (!m_devModeDlg->Create(m_hWnd)) {
            delete m_devModeDlg;
            m_devModeDlg = nullptr;
        }
    }
    m_waitCursor = FALSE;
    SetCursor(LoadCursorA(nullptr, IDC_ARROW));
}

void CNUVDlg::ShowCompletion()
{
    CNUVApp* app = GetNUVApp();
    if (app->GetOSFamily() == OSFamily9x && !m_texts.restart.empty()) {
        const std::string text = m_texts.success + "\n\n" + m_texts.restart;
        if (ShowMessageBox(m_hWnd, text, m_texts.title, MB_YESNO) == IDYES)
            app->SetSystemShutdown(TRUE, TRUE);
    } else {
        ShowMessageBox(m_hWnd, m_texts.success, m_texts.title, MB_OK);
    }
}

void CNUVDlg::OnDestroy()
{
    CNUVApp* app = GetNUVApp();
    app->Log("CNUVDlg::OnDestroy(...) waiting for worker thread to complete...");
    if (!m_worker.Wait(kWorkerCloseWaitMs)) {
        app->Log("CNUVDlg::OnDestroy(...) waiting for thread failed, calling TerminateThread()...");
        m_worker.Terminate(0);
    }
    app->Log("CNUVDlg::OnDestroy(...) worker thread finished.");
    app->Log("CNUVDlg::OnDestroy(...) deleting CWinThread worker thread object.");
    app->SetMainWindow(nullptr);
}

void CNUVDlg::StartTimer(UINT_PTR timer, UINT periodMs)
{
    SendMessageA(m_hWnd, WM_START_TIMER, timer, periodMs);
}

void CNUVDlg::StopTimer(UINT_PTR timer)
{
    SendMessageA(m_hWnd, WM_STOP_TIMER, timer, 0);
}

void CNUVDlg::ShowCountdown(UINT periodMs)
{
    StartTimer(IDT_RESTART, periodMs);
    SendMessageA(m_hWnd, WM_SHOW_RESTART, 0, 0);
    StopTimer(IDT_RESTART);
}

DWORD WINAPI CNUVDlg::SystemRestoreThread(LPVOID parameter)
{
    return static_cast<CNUVDlg*>(parameter)->RunWorker();
}

DWORD CNUVDlg::RunWorker()
{
    CNUVApp* app = GetNUVApp();
    // Read at the start, while the window surely exists: the last message goes to it.
    HWND window = m_hWnd;
    StartTimer(IDT_TOPMOST, kTopmostPeriodMs);
    StartTimer(IDT_DOTS, kDotsPeriodMs);
    app->Log("CNUVDlg: SystemRestoreThread(...) calling InstallApplications(...).");
    app->GetControlManager().InstallApplications();
    StopTimer(IDT_DOTS);
    StopTimer(IDT_TOPMOST);

    const EndOfRun end = DecideEndOfRun(*app, *this, this);
    if (end == EndOfRun::Finished)
        app->Log("CNUVDlg:: SystemRestoreThread(...) posting WM_CLOSE message to dialog.");
    PostMessageA(window, WM_CLOSE, 0, 0);
    if (end == EndOfRun::Finished)
        app->Log("CNUVDlg:: SystemRestoreThread(...) returning 0 from worker thread.");
    return 0;
}

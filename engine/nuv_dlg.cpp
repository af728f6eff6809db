#include "nuv_dlg.h"

#include "control_manager.h"
#include "line_file.h"
#include "nuv_app.h"
#include "resource.h"
#include "window_text_size.h"

#include <commctrl.h>

#include <vector>

namespace {

const DWORD kWorkerCloseWaitMs = 10000;
const UINT kIntermediateCountdownMs = 5000;
const UINT kFinalCountdownMs = 10000;
const UINT kDotsPeriodMs = 100;
const UINT kTopmostPeriodMs = 2000;
const char kDevModeMenuText[] = "Dev Mode";
const char kTextFileName[] = "nuv.txt";

const char kRanOnce[] = "C:\\VELK\\NUV\\RANONCE.NUV";
const char kErrorFile[] = "c:\\velk\\nuv.err";
const char kKorbErrorCopy[] = "c:\\velk\\korb\\nuv.err";
const char kKorbFailTag[] = "C:\\Velk\\KORB\\ZKTFAIL.TAG";
const char kFinishedMark[] = "C:\\Velk\\nuv.dun";

// The dialog whose modal loop runs on this thread, for the keyboard filter.
CNUVDlg* g_modalDialog = nullptr;

} // namespace

CNUVDlg::CNUVDlg()
    : m_waitCursor(TRUE), m_devModeWindow(nullptr),
      m_icon(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_NUV))), m_worker(nullptr), m_window(nullptr),
      m_keyboardHook(nullptr)
{
}

CNUVDlg::~CNUVDlg()
{
    if (m_worker)
        CloseHandle(m_worker);
}

INT_PTR CNUVDlg::DoModal()
{
    InitCommonControls();
    // Keyboard input inside the modal loop goes past the application's filter first.
    g_modalDialog = this;
    m_keyboardHook = SetWindowsHookExA(WH_MSGFILTER, KeyboardFilter, nullptr, GetCurrentThreadId());
    const INT_PTR result = DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_NUV_DIALOG), nullptr,
                                           DialogProc, reinterpret_cast<LPARAM>(this));
    if (m_keyboardHook)
        UnhookWindowsHookEx(m_keyboardHook);
    m_keyboardHook = nullptr;
    g_modalDialog = nullptr;
    return result;
}

LRESULT CALLBACK CNUVDlg::KeyboardFilter(int code, WPARAM wParam, LPARAM lParam)
{
    if (code >= 0 && GetNUVApp() && GetNUVApp()->ProcessMessageFilter(code, reinterpret_cast<MSG*>(lParam)))
        return 1;
    return CallNextHookEx(g_modalDialog ? g_modalDialog->m_keyboardHook : nullptr, code, wParam, lParam);
}

INT_PTR CALLBACK CNUVDlg::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(window, DWLP_USER, lParam);
        CNUVDlg* self = reinterpret_cast<CNUVDlg*>(lParam);
        self->m_window = window;
        return self->OnInitDialog();
    }
    CNUVDlg* self = reinterpret_cast<CNUVDlg*>(GetWindowLongPtrA(window, DWLP_USER));
    return self ? self->HandleMessage(message, wParam, lParam) : FALSE;
}

INT_PTR CNUVDlg::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    CNUVApp* app = GetNUVApp();
    auto reply = [this](LRESULT value) {
        SetWindowLongPtrA(m_window, DWLP_MSGRESULT, value);
        return TRUE;
    };
    switch (message) {
    case WM_PROGRESS_INIT:
        SendDlgItemMessageA(m_window, IDC_PROGRESS_BAR, PBM_SETRANGE, 0, lParam);
        SendDlgItemMessageA(m_window, IDC_PROGRESS_BAR, PBM_SETPOS, 0, 0);
        SendDlgItemMessageA(m_window, IDC_PROGRESS_BAR, PBM_SETSTEP, 1, 0);
        return reply(0);
    case WM_PROGRESS_STEP:
        SendDlgItemMessageA(m_window, IDC_PROGRESS_BAR, PBM_STEPIT, 0, 0);
        return reply(0);
    case WM_QUERY_ERRORFLAG:
        return reply(app->IsErrorFlagEnabled());
    case WM_SHOW_RESTART:
        m_restartDlg.SetTexts(m_texts.title, m_texts.restart, m_texts.restartButton);
        m_restartDlg.DoModal(m_window);
        return reply(0);
    case WM_SHOW_COMPLETION:
        ShowCompletion();
        return reply(0);
    case WM_START_TIMER:
        SetTimer(m_window, wParam, static_cast<UINT>(lParam), nullptr);
        return reply(0);
    case WM_STOP_TIMER:
        KillTimer(m_window, wParam);
        return reply(0);
    case WM_TIMER:
        OnTimer(wParam);
        return TRUE;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == IDM_DEVMODE) {
            OpenDevModeWindow();
            return TRUE;
        }
        return FALSE;
    case WM_LBUTTONDOWN:
        if (app->IsDevModeActive()) {
            // The window has no caption bar: dragging its body moves it.
            PostMessageA(m_window, WM_NCLBUTTONDOWN, HTCAPTION, lParam);
            return TRUE;
        }
        return FALSE;
    case WM_SETCURSOR:
        if (m_waitCursor) {
            SetCursor(LoadCursorA(nullptr, IDC_WAIT));
            return reply(TRUE);
        }
        return FALSE;
    case WM_CLOSE:
        if (m_devModeWindow)
            SendMessageA(m_devModeWindow, WM_CLOSE, 0, 0);
        EndDialog(m_window, IDCANCEL);
        return TRUE;
    case WM_DESTROY:
        OnDestroy();
        return FALSE;
    case WM_QUERYDRAGICON:
        return reply(reinterpret_cast<LRESULT>(m_icon));
    case WM_PAINT:
        if (IsIconic(m_window)) {
            PAINTSTRUCT paint;
            HDC dc = BeginPaint(m_window, &paint);
            RECT client;
            GetClientRect(m_window, &client);
            DrawIcon(dc, (client.right - GetSystemMetrics(SM_CXICON) + 1) / 2,
                     (client.bottom - GetSystemMetrics(SM_CYICON) + 1) / 2, m_icon);
            EndPaint(m_window, &paint);
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}

BOOL CNUVDlg::OnInitDialog()
{
    CNUVApp* app = GetNUVApp();
    app->SetMainWindow(m_window);
    SendMessageA(m_window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_icon));
    SendMessageA(m_window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_icon));
    LoadMessageTexts();
    m_progressText = m_texts.inProgress;
    SetDlgItemTextA(m_window, IDC_PROGRESS_TEXT, m_progressText.c_str());
    SetDlgItemTextA(m_window, IDC_PROGRESS_DOTS, m_dotsText.c_str());
    LayoutProgressWindow();
    SetWindowTextA(m_window, m_texts.title.c_str());
    SetWindowPos(m_window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);

    if (HMENU menu = GetSystemMenu(m_window, FALSE)) {
        AppendMenuA(menu, MF_STRING, IDM_DEVMODE, kDevModeMenuText);
        DeleteMenu(menu, 1, MF_BYPOSITION);
        EnableMenuItem(menu, 0, MF_BYPOSITION | MF_GRAYED);
    }
    if (app->IsDevModeActive())
        OpenDevModeWindow();
    else
        SetCursor(LoadCursorA(nullptr, IDC_WAIT));

    DWORD threadId = 0;
    m_worker = CreateThread(nullptr, 0, SystemRestoreThread, this, 0, &threadId);
    if (!m_worker)
        PostMessageA(m_window, WM_CLOSE, 0, 0);
    return TRUE;
}

void CNUVDlg::LoadMessageTexts()
{
    std::string folder = GetNUVApp()->GetEngineFolder();
    if (folder.empty() || folder[folder.size() - 1] != '\\')
        folder += '\\';
    CLineFile file;
    if (!file.Open(folder + kTextFileName, CLineFile::modeRead))
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
    HWND text = GetDlgItem(m_window, IDC_PROGRESS_TEXT);
    RECT textRect;
    GetWindowRect(text, &textRect);
    MapWindowPoints(nullptr, m_window, reinterpret_cast<POINT*>(&textRect), 2);
    const int width = textRect.right - textRect.left;
    const TextMetricsOfControl measured = MeasureControlText(text, m_progressText);
    const int height = GetLinesNeeded(measured.width, width) * measured.lineHeight;
    const int growth = height - (textRect.bottom - textRect.top);
    MoveWindow(text, textRect.left, textRect.top, width, height, TRUE);
    for (int id : {IDC_PROGRESS_DOTS, IDC_PROGRESS_BAR}) {
        HWND control = GetDlgItem(m_window, id);
        RECT r;
        GetWindowRect(control, &r);
        MapWindowPoints(nullptr, m_window, reinterpret_cast<POINT*>(&r), 2);
        MoveWindow(control, r.left, r.top + growth, r.right - r.left, r.bottom - r.top, TRUE);
    }
    RECT window;
    GetWindowRect(m_window, &window);
    const int windowWidth = window.right - window.left;
    const int windowHeight = window.bottom - window.top + growth;
    RECT desktop;
    GetWindowRect(GetDesktopWindow(), &desktop);
    SetWindowPos(m_window, HWND_TOP, desktop.right - windowWidth, 0, windowWidth, windowHeight, 0);
}

void CNUVDlg::OnTimer(UINT_PTR timer)
{
    if (timer == IDT_DOTS) {
        m_dotsText += '.';
        HWND dots = GetDlgItem(m_window, IDC_PROGRESS_DOTS);
        RECT r;
        GetClientRect(dots, &r);
        SetDlgItemTextA(m_window, IDC_PROGRESS_DOTS, m_dotsText.c_str());
        if (MeasureControlText(dots, m_dotsText).width > r.right - r.left)
            m_dotsText.clear();
    } else if (timer == IDT_RESTART) {
        KillTimer(m_window, IDT_RESTART);
        // A tick after the countdown has closed finds nothing to end.
        m_restartDlg.OnOK();
    } else if (timer == IDT_TOPMOST) {
        SetWindowPos(m_window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
}

void CNUVDlg::OpenDevModeWindow()
{
    // The Development Mode window itself comes with its own dialog; until then the
    // command only stops the wait cursor, as opening it would.
    GetNUVApp()->GetDevMode();
    m_waitCursor = FALSE;
    SetCursor(LoadCursorA(nullptr, IDC_ARROW));
}

void CNUVDlg::ShowCompletion()
{
    CNUVApp* app = GetNUVApp();
    if (app->GetOSFamily() == OSFamily9x && !m_texts.restart.empty()) {
        const std::string text = m_texts.success + "\n\n" + m_texts.restart;
        if (MessageBoxA(m_window, text.c_str(), m_texts.title.c_str(), MB_YESNO) == IDYES)
            app->SetSystemShutdown(TRUE, TRUE);
    } else {
        MessageBoxA(m_window, m_texts.success.c_str(), m_texts.title.c_str(), MB_OK);
    }
}

void CNUVDlg::OnDestroy()
{
    Log("CNUVDlg::OnDestroy(...) waiting for worker thread to complete...");
    if (m_worker) {
        const DWORD waited = WaitForSingleObject(m_worker, kWorkerCloseWaitMs);
        if (waited != WAIT_OBJECT_0) {
            Log("CNUVDlg::OnDestroy(...) waiting for thread failed, calling TerminateThread()...");
            TerminateThread(m_worker, 0);
        }
    }
    Log("CNUVDlg::OnDestroy(...) worker thread finished.");
    Log("CNUVDlg::OnDestroy(...) deleting CWinThread worker thread object.");
    if (m_worker) {
        CloseHandle(m_worker);
        m_worker = nullptr;
    }
    GetNUVApp()->SetMainWindow(nullptr);
}

void CNUVDlg::Log(const char* text)
{
    CNUVApp* app = GetNUVApp();
    if (app->IsLoggingEnabled())
        app->WriteLog(text);
}

void CNUVDlg::StartTimer(UINT_PTR timer, UINT periodMs)
{
    SendMessageA(m_window, WM_START_TIMER, timer, periodMs);
}

void CNUVDlg::StopTimer(UINT_PTR timer)
{
    SendMessageA(m_window, WM_STOP_TIMER, timer, 0);
}

void CNUVDlg::ShowCountdown(UINT periodMs)
{
    StartTimer(IDT_RESTART, periodMs);
    SendMessageA(m_window, WM_SHOW_RESTART, 0, 0);
    StopTimer(IDT_RESTART);
}

DWORD WINAPI CNUVDlg::SystemRestoreThread(LPVOID parameter)
{
    return static_cast<CNUVDlg*>(parameter)->RunDecision();
}

DWORD CNUVDlg::RunDecision()
{
    CNUVApp* app = GetNUVApp();
    StartTimer(IDT_TOPMOST, kTopmostPeriodMs);
    StartTimer(IDT_DOTS, kDotsPeriodMs);
    Log("CNUVDlg: SystemRestoreThread(...) calling InstallApplications(...).");
    app->GetControlManager().InstallApplications();
    StopTimer(IDT_DOTS);
    StopTimer(IDT_TOPMOST);

    if (app->IsErrorFlagEnabled() && app->IsSilentModeEnabled()) {
        Log("CNUVDlg: SystemRestoreThread(...) Errors detected and running under KORB.  Failing System.");
        app->AppendRunEntriesToErrorFile();
        CopyFileA(kErrorFile, kKorbErrorCopy, FALSE);
        app->TouchFileNoAttribs(kKorbFailTag);
        app->TouchFile(kFinishedMark);
        app->SetSystemShutdown(FALSE, FALSE);
        PostMessageA(m_window, WM_CLOSE, 0, 0);
        return 0;
    }
    if (!app->GetSystemShutdownFinal()) {
        Log("CNUVDlg: SystemRestoreThread(...) Intermediate reboot detected (SystemShutdownFinal == FALSE).");
        ShowCountdown(kIntermediateCountdownMs);
        PostMessageA(m_window, WM_CLOSE, 0, 0);
        return 0;
    }
    if (app->IsSilentModeEnabled() && !app->CheckForFile(kRanOnce)) {
        Log("CNUVDlg: SystemRestoreThread(...) Final forced reboot under KORB.");
        app->TouchFile(kRanOnce);
        app->SetSystemShutdown(TRUE, FALSE);
        ShowCountdown(kIntermediateCountdownMs);
        PostMessageA(m_window, WM_CLOSE, 0, 0);
        return 0;
    }
    if (!app->CheckForFile(kRanOnce) && app->IsErrorFlagEnabled()) {
        Log("CNUVDlg: SystemRestoreThread(...) errors encountered.  Setting RANONCE.NUV.");
        app->TouchFile(kRanOnce);
    } else {
        Log("CNUVDlg: SystemRestoreThread(...) RANONCE.NUV exists or there were no errors.  Deleting files...");
        if (app->IsSilentModeEnabled())
            app->AppendRunNUVtoLOG();
        app->DeleteFiles(this);
    }
    if (app->IsSilentModeEnabled()) {
        if (app->IsErrorFlagEnabled()) {
            Log("CNUVDlg: SystemRestoreThread(...) errors encountered under KORB.  Setting nuv.dun.");
            app->TouchFile(kFinishedMark);
        }
    } else {
        Log("CNUVDlg: SystemRestoreThread(...) KORB not enabled.  Setting final system shutdown.");
        app->SetSystemShutdown(TRUE, TRUE);
        ShowCountdown(kFinalCountdownMs);
    }
    Log("CNUVDlg:: SystemRestoreThread(...) posting WM_CLOSE message to dialog.");
    PostMessageA(m_window, WM_CLOSE, 0, 0);
    Log("CNUVDlg:: SystemRestoreThread(...) returning 0 from worker thread.");
    return 0;
}

#include "dev_mode_dlg.h"

#include "dev_mode_position.h"
#include "engine_paths.h"
#include "nuv_app.h"
#include "resource.h"

#include <shellapi.h>

namespace {

const char kNotepad[] = "notepad.exe";
const char kTaskbarClass[] = "Shell_TrayWnd";

ScreenRect ToScreenRect(const RECT& rect)
{
    ScreenRect result = {rect.left, rect.top, rect.right, rect.bottom};
    return result;
}

} // namespace

CDevModeDlg::CDevModeDlg(CDevModeDlg** record)
    : CDialog(IDD_DEVMODE), m_record(record), m_skipReboots(FALSE), m_disableAppCleanup(FALSE),
      m_disableEngineCleanup(FALSE), m_logging(1)
{
}

BOOL CDevModeDlg::OnInitDialog()
{
    CDevMode* devMode = GetNUVApp()->GetDevMode();
    m_skipReboots = devMode->GetSkipReboots();
    m_disableAppCleanup = devMode->GetDisableAppCleanup();
    m_disableEngineCleanup = devMode->GetDisableEngineCleanup();
    m_logging = devMode->GetDetailedLogging() ? 0 : 1;
    if (devMode->GetStepMode() == 1)
        EnableButton(IDC_DEVMODE_PAUSE, FALSE);
    else
        EnableButton(IDC_DEVMODE_CONTINUE, FALSE);
    if (!devMode->IsWaitingForStep()) {
        EnableButton(IDC_DEVMODE_STEP, FALSE);
        EnableButton(IDC_DEVMODE_RUN, FALSE);
    }
    devMode->SetDevModeDialog(m_hWnd);
    PlaceInCorner();
    ShowWindow(m_hWnd, SW_SHOWNORMAL);
    UpdateData(FALSE);
    return TRUE;
}

void CDevModeDlg::UpdateData(BOOL saveAndValidate)
{
    struct Box {
        int id;
        BOOL* value;
    } boxes[] = {{IDC_DEVMODE_SKIPREBOOTS, &m_skipReboots},
                 {IDC_DEVMODE_APPCLEANUP, &m_disableAppCleanup},
                 {IDC_DEVMODE_ENGINECLEANUP, &m_disableEngineCleanup}};
    for (const Box& box : boxes) {
        if (saveAndValidate)
            *box.value = IsDlgButtonChecked(m_hWnd, box.id) == BST_CHECKED;
        else
            CheckDlgButton(m_hWnd, box.id, *box.value ? BST_CHECKED : BST_UNCHECKED);
    }
    if (saveAndValidate)
        m_logging = IsDlgButtonChecked(m_hWnd, IDC_DEVMODE_LOGGING_OFF) == BST_CHECKED ? 1 : 0;
    else
        CheckRadioButton(m_hWnd, IDC_DEVMODE_LOGGING_ON, IDC_DEVMODE_LOGGING_OFF,
                         m_logging == 0 ? IDC_DEVMODE_LOGGING_ON : IDC_DEVMODE_LOGGING_OFF);
}

BOOL CDevModeDlg::OnMessage(UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
        OnCommand(LOWORD(wParam));
        return TRUE;
    }
    if (message == WM_CLOSE) {
        EndDialog(IDCANCEL);
        return TRUE;
    }
    return FALSE;
}

void CDevModeDlg::OnCommand(int id)
{
    CDevMode* devMode = GetNUVApp()->GetDevMode();
    UpdateData(TRUE);
    switch (id) {
    case IDC_DEVMODE_STEP:
        EnableButton(IDC_DEVMODE_PAUSE, FALSE);
        EnableButton(IDC_DEVMODE_CONTINUE, TRUE);
        devMode->SetStepMode(TRUE);
        devMode->ReleaseStep();
        break;
    case IDC_DEVMODE_RUN:
    case IDC_DEVMODE_CONTINUE:
        EnableButton(IDC_DEVMODE_PAUSE, TRUE);
        EnableButton(IDC_DEVMODE_CONTINUE, FALSE);
        devMode->SetStepMode(FALSE);
        devMode->ReleaseStep();
        break;
    case IDC_DEVMODE_PAUSE:
        EnableButton(IDC_DEVMODE_PAUSE, FALSE);
        EnableButton(IDC_DEVMODE_CONTINUE, TRUE);
        devMode->SetStepMode(TRUE);
        break;
    case IDC_DEVMODE_RUNNUV:
        OpenInNotepad(kRunListPath);
        break;
    case IDC_DEVMODE_NUVLOG:
        OpenInNotepad(kLogFile);
        break;
    case IDC_DEVMODE_SKIPREBOOTS:
        devMode->SetSkipReboots(m_skipReboots);
        break;
    case IDC_DEVMODE_APPCLEANUP:
        devMode->SetDisableAppCleanup(m_disableAppCleanup);
        break;
    case IDC_DEVMODE_ENGINECLEANUP:
        devMode->SetDisableEngineCleanup(m_disableEngineCleanup);
        break;
    case IDC_DEVMODE_LOGGING_ON:
        devMode->SetDetailedLogging(TRUE);
        break;
    case IDC_DEVMODE_LOGGING_OFF:
        devMode->SetDetailedLogging(FALSE);
        break;
    }
}

void CDevModeDlg::EnableButton(int id, BOOL enable)
{
    EnableWindow(GetDlgItem(m_hWnd, id), enable);
}

void CDevModeDlg::OpenInNotepad(const char* file)
{
    // A Notepad that cannot be started is not reported: nothing depends on it.
    ShellExecuteA(nullptr, "open", kNotepad, file, nullptr, SW_SHOWNORMAL);
}

void CDevModeDlg::PlaceInCorner()
{
    RECT desktop;
    GetWindowRect(GetDesktopWindow(), &desktop);
    RECT window;
    GetWindowRect(m_hWnd, &window);
    bool hasTaskbar = false;
    RECT barWindow = {0, 0, 0, 0};
    APPBARDATA bar;
    ZeroMemory(&bar, sizeof bar);
    bar.cbSize = sizeof bar;
    if (HWND taskbar = FindWindowA(kTaskbarClass, nullptr)) {
        bar.hWnd = taskbar;
        hasTaskbar = SHAppBarMessage(ABM_GETTASKBARPOS, &bar) != 0;
        GetWindowRect(taskbar, &barWindow);
    }
    const ScreenPoint corner =
        GetDevModeWindowPosition(ToScreenRect(desktop), window.right - window.left, window.bottom - window.top,
                                 hasTaskbar, ToScreenRect(bar.rc), ToScreenRect(barWindow));
    SetWindowPos(m_hWnd, nullptr, corner.x, corner.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CDevModeDlg::OnDestroy()
{
    // Also when the progress window goes first and takes this owned window with it.
    if (m_record && *m_record == this)
        *m_record = nullptr;
    if (CNUVApp* app = GetNUVApp())
        if (app->IsDevModeActive())
            app->GetDevMode()->SetDevModeDialog(nullptr);
}

void CDevModeDlg::PostNcDestroy()
{
    delete this;
}

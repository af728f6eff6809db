#include "nuv_dlg.h"

#include "nuv_app.h"
#include "resource.h"

#include <commctrl.h>

namespace {
// The dialog waits this long for the worker when it closes.
const DWORD kWorkerCloseWaitMs = 10000;
}

CNUVDlg::CNUVDlg() : m_window(nullptr), m_worker(nullptr)
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
    return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_NUV_DIALOG), nullptr, DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CNUVDlg::DialogProc(HWND window, UINT message, WPARAM, LPARAM lParam)
{
    CNUVDlg* self = reinterpret_cast<CNUVDlg*>(GetWindowLongPtrA(window, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrA(window, DWLP_USER, lParam);
        return reinterpret_cast<CNUVDlg*>(lParam)->OnInitDialog(window);
    case WM_PROGRESS_INIT:
        SendDlgItemMessageA(window, IDC_PROGRESS_BAR, PBM_SETRANGE, 0, MAKELPARAM(0, HIWORD(lParam)));
        SendDlgItemMessageA(window, IDC_PROGRESS_BAR, PBM_SETSTEP, 1, 0);
        return TRUE;
    case WM_PROGRESS_STEP:
        SendDlgItemMessageA(window, IDC_PROGRESS_BAR, PBM_STEPIT, 0, 0);
        return TRUE;
    case WM_CLOSE:
        if (self)
            self->OnClose();
        return TRUE;
    }
    return FALSE;
}

BOOL CNUVDlg::OnInitDialog(HWND window)
{
    m_window = window;
    GetNUVApp()->SetMainWindow(window);
    DWORD threadId = 0;
    m_worker = CreateThread(nullptr, 0, SystemRestoreThread, this, 0, &threadId);
    if (!m_worker)
        PostMessageA(window, WM_CLOSE, 0, 0);
    return TRUE;
}

DWORD WINAPI CNUVDlg::SystemRestoreThread(LPVOID parameter)
{
    CNUVDlg* self = static_cast<CNUVDlg*>(parameter);
    GetNUVApp()->GetControlManager().InstallApplications();
    PostMessageA(self->m_window, WM_CLOSE, 0, 0);
    return 0;
}

void CNUVDlg::OnClose()
{
    if (m_worker)
        WaitForSingleObject(m_worker, kWorkerCloseWaitMs);
    GetNUVApp()->SetMainWindow(nullptr);
    EndDialog(m_window, IDOK);
}

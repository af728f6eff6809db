#include "dialog.h"

CDialog::CDialog(UINT templateId) : m_hWnd(nullptr), m_templateId(templateId), m_modal(false)
{
}

CDialog::~CDialog()
{
    // A modeless dialog must not outlive its object: its procedure would find a dead one.
    if (m_hWnd && !m_modal)
        DestroyWindow(m_hWnd);
}

INT_PTR CDialog::DoModal(HWND parent)
{
    m_modal = true;
    const INT_PTR result = DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(m_templateId), parent,
                                           DialogProc, reinterpret_cast<LPARAM>(this));
    m_hWnd = nullptr;
    return result;
}

BOOL CDialog::Create(HWND parent)
{
    m_modal = false;
    return CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(m_templateId), parent, DialogProc,
                              reinterpret_cast<LPARAM>(this)) != nullptr;
}

void CDialog::EndDialog(INT_PTR result)
{
    if (!m_hWnd)
        return;
    if (m_modal)
        ::EndDialog(m_hWnd, result);
    else
        DestroyWindow(m_hWnd);
}

BOOL CDialog::OnMessage(UINT, WPARAM, LPARAM)
{
    return FALSE;
}

BOOL CDialog::SetResult(LRESULT result)
{
    SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT, result);
    return TRUE;
}

INT_PTR CALLBACK CDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        CDialog* self = reinterpret_cast<CDialog*>(lParam);
        SetWindowLongPtrA(window, DWLP_USER, lParam);
        self->m_hWnd = window;
        return self->OnInitDialog();
    }
    CDialog* self = reinterpret_cast<CDialog*>(GetWindowLongPtrA(window, DWLP_USER));
    if (!self)
        return FALSE;
    if (message == WM_DESTROY) {
        self->OnDestroy();
        return FALSE;
    }
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrA(window, DWLP_USER, 0);
        self->m_hWnd = nullptr;
        self->PostNcDestroy();
        return FALSE;
    }
    return self->OnMessage(message, wParam, lParam);
}

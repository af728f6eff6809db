#include "dialog.h"

#include <vector>

namespace {

// The modeless dialogs open now, and whether one is taking a message: IsDialogMessage
// calls the message filter again, which must not route the message a second time.
std::vector<HWND> g_modelessDialogs;
bool g_routing = false;

void ForgetModelessDialog(HWND window)
{
    for (std::vector<HWND>::iterator it = g_modelessDialogs.begin(); it != g_modelessDialogs.end(); ++it)
        if (*it == window) {
            g_modelessDialogs.erase(it);
            return;
        }
}

} // namespace

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

BOOL CDialog::RouteToModelessDialog(MSG* message)
{
    if (!message || g_routing || message->message < WM_KEYFIRST || message->message > WM_KEYLAST)
        return FALSE;
    for (HWND dialog : g_modelessDialogs) {
        if (message->hwnd != dialog && !IsChild(dialog, message->hwnd))
            continue;
        g_routing = true;
        const BOOL taken = IsDialogMessageA(dialog, message);
        g_routing = false;
        return taken;
    }
    return FALSE;
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
        if (!self->m_modal)
            g_modelessDialogs.push_back(window);
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
        ForgetModelessDialog(window);
        SetWindowLongPtrA(window, DWLP_USER, 0);
        self->m_hWnd = nullptr;
        self->PostNcDestroy();
        return FALSE;
    }
    return self->OnMessage(message, wParam, lParam);
}

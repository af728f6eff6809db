#include "restart_dlg.h"

#include "resource.h"
#include "window_text_size.h"

namespace {
const int kMargin = 20;
const int kButtonGap = 5;
const int kButtonPadding = 10;
}

CRestartDlg::CRestartDlg() : m_window(nullptr)
{
}

void CRestartDlg::SetTexts(const std::string& caption, const std::string& message, const std::string& buttonText)
{
    m_caption = caption;
    m_message = message;
    m_buttonText = buttonText;
}

INT_PTR CRestartDlg::DoModal(HWND parent)
{
    const INT_PTR result = DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_RESTART_DIALOG), parent,
                                           DialogProc, reinterpret_cast<LPARAM>(this));
    m_window = nullptr;
    return result;
}

void CRestartDlg::OnOK()
{
    if (m_window)
        EndDialog(m_window, IDOK);
}

INT_PTR CALLBACK CRestartDlg::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    CRestartDlg* self = reinterpret_cast<CRestartDlg*>(GetWindowLongPtrA(window, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrA(window, DWLP_USER, lParam);
        return reinterpret_cast<CRestartDlg*>(lParam)->OnInitDialog(window);
    case WM_COMMAND:
        if (self && (LOWORD(wParam) == IDC_RESTART_BUTTON || LOWORD(wParam) == IDOK))
            self->OnOK();
        return TRUE;
    case WM_DESTROY:
        if (self)
            self->m_window = nullptr;
        return FALSE;
    }
    return FALSE;
}

BOOL CRestartDlg::OnInitDialog(HWND window)
{
    m_window = window;
    SetDlgItemTextA(window, IDC_RESTART_TEXT, m_message.c_str());
    SetWindowTextA(window, m_caption.c_str());
    SetDlgItemTextA(window, IDC_RESTART_BUTTON, m_buttonText.c_str());
    LayoutRestartDlg();
    SetActiveWindow(window);
    return TRUE;
}

void CRestartDlg::LayoutRestartDlg()
{
    HWND text = GetDlgItem(m_window, IDC_RESTART_TEXT);
    HWND button = GetDlgItem(m_window, IDC_RESTART_BUTTON);
    RECT textRect = {};
    GetWindowRect(text, &textRect);
    const int textWidth = textRect.right - textRect.left;
    const TextMetricsOfControl message = MeasureControlText(text, m_message);
    const int textHeight = GetLinesNeeded(message.width, textWidth) * message.lineHeight;
    MoveWindow(text, kMargin, kMargin, textWidth, textHeight, TRUE);

    const TextMetricsOfControl label = MeasureControlText(button, m_buttonText);
    const int buttonWidth = label.width + kButtonPadding;
    const int buttonHeight = label.lineHeight + kButtonPadding;
    const int contentWidth = textWidth > buttonWidth ? textWidth : buttonWidth;
    const int buttonTop = kMargin + textHeight + kButtonGap;
    MoveWindow(button, kMargin + (contentWidth - buttonWidth) / 2, buttonTop, buttonWidth, buttonHeight, TRUE);

    RECT frame = {0, 0, contentWidth + 2 * kMargin, buttonTop + buttonHeight + kMargin};
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongA(m_window, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongA(m_window, GWL_EXSTYLE)));
    SetWindowPos(m_window, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER);
}

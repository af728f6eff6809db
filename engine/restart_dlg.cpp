#include "restart_dlg.h"

#include "resource.h"
#include "text_measure.h"

namespace {
const int kMargin = 20;
const int kButtonGap = 5;
const int kButtonPadding = 10;
}

CRestartDlg::CRestartDlg() : CDialog(IDD_RESTART_DIALOG)
{
}

void CRestartDlg::SetTexts(const std::string& caption, const std::string& message, const std::string& buttonText)
{
    m_caption = caption;
    m_message = message;
    m_buttonText = buttonText;
}

void CRestartDlg::OnOK()
{
    EndDialog(IDOK);
}

BOOL CRestartDlg::OnMessage(UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_COMMAND && (LOWORD(wParam) == IDC_RESTART_BUTTON || LOWORD(wParam) == IDOK)) {
        OnOK();
        return TRUE;
    }
    // No closing by Escape: the countdown ends by its button or its timer.
    return message == WM_COMMAND;
}

BOOL CRestartDlg::OnInitDialog()
{
    SetDlgItemTextA(m_hWnd, IDC_RESTART_TEXT, m_message.c_str());
    SetWindowTextA(m_hWnd, m_caption.c_str());
    SetDlgItemTextA(m_hWnd, IDC_RESTART_BUTTON, m_buttonText.c_str());
    LayoutRestartDlg();
    SetActiveWindow(m_hWnd);
    return TRUE;
}

void CRestartDlg::LayoutRestartDlg()
{
    HWND text = GetDlgItem(m_hWnd, IDC_RESTART_TEXT);
    HWND button = GetDlgItem(m_hWnd, IDC_RESTART_BUTTON);
    RECT textRect = {};
    GetWindowRect(text, &textRect);
    const int textWidth = textRect.right - textRect.left;
    const int textHeight = GetTextHeight(text, m_message, textWidth);
    MoveWindow(text, kMargin, kMargin, textWidth, textHeight, TRUE);

    const TextMetricsOfControl label = MeasureControlText(button, m_buttonText);
    const int buttonWidth = label.width + kButtonPadding;
    const int buttonHeight = label.lineHeight + kButtonPadding;
    const int contentWidth = textWidth > buttonWidth ? textWidth : buttonWidth;
    const int buttonTop = kMargin + textHeight + kButtonGap;
    MoveWindow(button, kMargin + (contentWidth - buttonWidth) / 2, buttonTop, buttonWidth, buttonHeight, TRUE);

    RECT frame = {0, 0, contentWidth + 2 * kMargin, buttonTop + buttonHeight + kMargin};
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongA(m_hWnd, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongA(m_hWnd, GWL_EXSTYLE)));
    SetWindowPos(m_hWnd, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER);
}

// The countdown dialog shown before a restart; the progress dialog's restart timer ends it.
#pragma once

#include <windows.h>

#include <string>

class CRestartDlg
{
public:
    CRestartDlg();
    virtual ~CRestartDlg() = default;

    void SetTexts(const std::string& caption, const std::string& message, const std::string& buttonText);
    INT_PTR DoModal(HWND parent);
    // Ends the dialog as its button does; nothing happens when it is not open.
    void OnOK();
    BOOL IsOpen() const { return m_window != nullptr; }

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    BOOL OnInitDialog(HWND window);
    void LayoutRestartDlg();

    HWND m_window;
    std::string m_message;
    std::string m_caption;
    std::string m_buttonText;
};

// The countdown dialog shown before a restart; the progress dialog's restart timer ends it.
#pragma once

#include "dialog.h"

#include <string>

class CRestartDlg : public CDialog
{
public:
    CRestartDlg();

    void SetTexts(const std::string& caption, const std::string& message, const std::string& buttonText);
    // Ends the dialog as its button does; nothing happens when it is not open.
    void OnOK();

protected:
    BOOL OnInitDialog() override;
    BOOL OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void LayoutRestartDlg();

    std::string m_message;
    std::string m_caption;
    std::string m_buttonText;
};

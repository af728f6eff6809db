#include "pomrel.h"

#include "dialog.h"
#include "message_box.h"
#include "pomrel_resource.h"
#include "pomrel_text.h"

#include <cstdio>

namespace {

const int kMajorVersion = 1;
const int kMinorVersion = 1;
const char kUsage[] = "Pomrel\nSleep for n seconds\n\n[usage] Pomrel SecondsToSleep\n";
const UINT_PTR kTimer = 1001;
const UINT kTickMs = 1000;

std::string VersionTitle(const char* suffix)
{
    char title[64];
    std::snprintf(title, sizeof title, "Pomrel %d.%02d%s", kMajorVersion, kMinorVersion, suffix);
    return title;
}

// The countdown: no buttons, no system menu; it closes itself when the time is up.
class CPomrelDlg : public CDialog
{
public:
    explicit CPomrelDlg(int seconds) : CDialog(IDD_POMREL), m_seconds(seconds) {}

protected:
    BOOL OnInitDialog() override
    {
        ShowSeconds();
        SetTimer(m_hWnd, kTimer, kTickMs, nullptr);
        SetWindowPos(m_hWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        SetWindowTextA(m_hWnd, VersionTitle("").c_str());
        return TRUE;
    }

    BOOL OnMessage(UINT message, WPARAM wParam, LPARAM) override
    {
        if (message != WM_TIMER || wParam != kTimer)
            return FALSE;
        if (--m_seconds <= 0) {
            KillTimer(m_hWnd, kTimer);
            EndDialog(0);
        } else {
            ShowSeconds();
        }
        return TRUE;
    }

private:
    void ShowSeconds() { SetDlgItemInt(m_hWnd, IDC_POMREL_SECONDS, static_cast<UINT>(m_seconds), TRUE); }

    int m_seconds;
};

} // namespace

int RunPomrel(const std::string& commandLine)
{
    const PomrelCommand parsed = ParsePomrelCommandLine(commandLine);
    if (parsed.usage) {
        ShowMessageBox(nullptr, kUsage, VersionTitle(" Usage"), MB_OK);
        return 0;
    }
    if (parsed.skip)
        return 0;
    CPomrelDlg dialog(parsed.seconds);
    dialog.DoModal(nullptr);
    return 0;
}

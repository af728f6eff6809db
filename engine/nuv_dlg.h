// The progress window of run mode: a small always-on-top window in the top-right corner.
// It starts the worker thread that walks the run list and then makes the end-of-run
// decision (end_of_run.h).
#pragma once

#include "dialog.h"
#include "end_of_run.h"
#include "message_texts.h"
#include "restart_dlg.h"
#include "worker_thread.h"

#include <windows.h>

#include <string>

// Messages the dialog handles besides the control manager's progress messages.
const UINT WM_QUERY_ERRORFLAG = WM_USER + 103;
const UINT WM_SHOW_RESTART = WM_USER + 104;
const UINT WM_SHOW_COMPLETION = WM_USER + 105;
// Timers are owned by the dialog's thread: the worker asks it to start and stop them.
const UINT WM_START_TIMER = WM_USER + 110;  // wParam timer, lParam period in ms
const UINT WM_STOP_TIMER = WM_USER + 111;   // wParam timer

const UINT_PTR IDT_DOTS = 1001;
const UINT_PTR IDT_RESTART = 1002;
const UINT_PTR IDT_TOPMOST = 1003;

class CDevModeDlg;

// Steps the progress bar by one. It repaints when its thread is idle again, not while
// the worker waits for the answer, and only the strip around its moving end. low and
// high: the range the bar was given.
void StepProgressBar(HWND bar, int low, int high);

class CNUVDlg : public CDialog, private CRestartCountdown
{
public:
    CNUVDlg();
    ~CNUVDlg() override;

    INT_PTR DoModal();

    // The texts, defaults replaced by "nuv.txt" beside the engine.
    void LoadMessageTexts();

protected:
    BOOL OnInitDialog() override;
    BOOL OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void OnDestroy() override;

private:
    static LRESULT CALLBACK KeyboardFilter(int code, WPARAM wParam, LPARAM lParam);
    static DWORD WINAPI SystemRestoreThread(LPVOID parameter);

    void LayoutProgressWindow();
    void OnTimer(UINT_PTR timer);
    void ShowCompletion();
    void OpenDevModeWindow();

    // Worker-side helpers.
    DWORD RunWorker();
    void StartTimer(UINT_PTR timer, UINT periodMs);
    void StopTimer(UINT_PTR timer);
    void ShowCountdown(UINT periodMs) override;

    BOOL m_waitCursor;
    CDevModeDlg* m_devModeDlg;  // the open Development Mode window, or nullptr
    MessageTexts m_texts;
    std::string m_progressText;
    std::string m_dotsText;
    // Looked up once: the controls each step and each tick change.
    HWND m_bar;
    HWND m_dots;
    int m_barLow;
    int m_barHigh;
    std::size_t m_dotsThatFit;  // the dots begin again once there are more
    HICON m_icon;
    CRestartDlg m_restartDlg;
    CWorkerThread m_worker;
};

// The progress window of run mode: it starts the worker thread that walks the run list
// and shows the walk's progress until the worker asks it to close.
#pragma once

#include <windows.h>

class CNUVDlg
{
public:
    CNUVDlg();
    virtual ~CNUVDlg();
    CNUVDlg(const CNUVDlg&) = delete;
    CNUVDlg& operator=(const CNUVDlg&) = delete;

    INT_PTR DoModal();

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static DWORD WINAPI SystemRestoreThread(LPVOID parameter);
    BOOL OnInitDialog(HWND window);
    void OnClose();

    HWND m_window;
    HANDLE m_worker;
};

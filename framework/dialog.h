// Our stand-in for the application framework's dialog class: a dialog from the program's
// resources, modal or modeless, whose messages reach its object through one window
// procedure. Derived dialogs override OnInitDialog, OnMessage and OnDestroy.
#pragma once

#include <windows.h>

class CDialog
{
public:
    explicit CDialog(UINT templateId);
    virtual ~CDialog();
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    // Runs the dialog until EndDialog; -1 when it could not be shown.
    INT_PTR DoModal(HWND parent = nullptr);
    // Opens the dialog and returns at once (modeless); FALSE when it could not be made.
    BOOL Create(HWND parent = nullptr);
    // Ends a modal dialog, destroys a modeless one; nothing happens when it is not open.
    void EndDialog(INT_PTR result);

    HWND GetSafeHwnd() const { return m_hWnd; }
    BOOL IsOpen() const { return m_hWnd != nullptr; }

    // The framework's part of a message filter: a keyboard message for an open modeless
    // dialog or one of its controls goes through that dialog's IsDialogMessage, so that
    // Tab and its mnemonics work also while a modal loop (which knows only its own
    // dialog) runs. TRUE when the dialog took the message.
    static BOOL RouteToModelessDialog(MSG* message);

protected:
    virtual BOOL OnInitDialog() { return TRUE; }
    // Every message but WM_INITDIALOG; TRUE when handled. A handler whose message
    // returns a value gives it through SetResult.
    virtual BOOL OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    virtual void OnDestroy() {}
    // After the window is gone: a modeless dialog that owns itself deletes itself here.
    virtual void PostNcDestroy() {}
    BOOL SetResult(LRESULT result);

    HWND m_hWnd;

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    UINT m_templateId;
    bool m_modal;
};

// The Development Mode window: its controls set the switches, its buttons follow the
// walk's state, and its step buttons release the walk as the semaphore allows.
#include "dev_mode_dlg.h"
#include "engine_test_support.h"
#include "resource.h"

namespace {

// Waits for the thread while serving the messages it sends to this thread's windows
// (the worker enables the step buttons). FALSE when the time ran out.
bool WaitServing(HANDLE thread, DWORD milliseconds)
{
    const DWORD start = GetTickCount();
    for (;;) {
        const DWORD spent = GetTickCount() - start;
        const DWORD left = spent < milliseconds ? milliseconds - spent : 0;
        const DWORD woken = MsgWaitForMultipleObjects(1, &thread, FALSE, left, QS_ALLINPUT);
        if (woken == WAIT_OBJECT_0)
            return true;
        if (woken != WAIT_OBJECT_0 + 1)
            return false;
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
    }
}

DWORD WINAPI WaitForStepThread(LPVOID devMode)
{
    static_cast<CDevMode*>(devMode)->WaitForStep();
    return 0;
}

} // namespace

class DevModeDlgTest : public EngineTest
{
protected:
    void TearDown() override
    {
        if (open)
            SendMessageA(open->GetSafeHwnd(), WM_CLOSE, 0, 0);
        EngineTest::TearDown();
    }

    HWND Open()
    {
        open = new CDevModeDlg(&open);
        EXPECT_TRUE(open->Create(nullptr));
        window = open->GetSafeHwnd();
        return window;
    }
    bool IsEnabled(int id) const { return IsWindowEnabled(GetDlgItem(window, id)) != FALSE; }
    bool IsChecked(int id) const { return IsDlgButtonChecked(window, id) == BST_CHECKED; }
    void Click(int id) { SendDlgItemMessageA(window, id, BM_CLICK, 0, 0); }
    // The four buttons as "Step Run Pause Continue", a letter each while enabled.
    std::string Buttons() const
    {
        std::string state;
        for (int id : {IDC_DEVMODE_STEP, IDC_DEVMODE_RUN, IDC_DEVMODE_PAUSE, IDC_DEVMODE_CONTINUE})
            state += IsEnabled(id) ? "+" : "-";
        return state;
    }
    HANDLE StartWaiting()
    {
        HANDLE worker = CreateThread(nullptr, 0, WaitForStepThread, devMode, 0, nullptr);
        // Waiting once the flag is up and the worker has enabled the step buttons.
        while (!devMode->IsWaitingForStep() || !IsEnabled(IDC_DEVMODE_STEP))
            WaitServing(worker, 10);
        return worker;
    }

    CTestApp app;
    CDevMode* devMode = app.GetDevMode();
    CDevModeDlg* open = nullptr;
    HWND window = nullptr;
};

TEST_F(DevModeDlgTest, TheButtonsFollowTheWalkAndReleaseItAsTheSemaphoreAllows)
{
    // Started paused, as with devmode.nuv, before the worker waits: Continue only.
    devMode->SetStepMode(TRUE);
    Open();
    EXPECT_EQ(Buttons(), "---+");

    // Waiting before an entry: Step and Run too.
    HANDLE worker = StartWaiting();
    EXPECT_EQ(Buttons(), "++-+");
    // Step lets one entry run and stays paused.
    Click(IDC_DEVMODE_STEP);
    ASSERT_TRUE(WaitServing(worker, 10000));
    CloseHandle(worker);
    EXPECT_EQ(Buttons(), "---+");
    EXPECT_TRUE(devMode->GetStepMode());

    // Continue, Pause, Continue, Pause while the entry runs: two releases, of which
    // the semaphore keeps one, and the next wait takes it and still waits.
    for (int id : {IDC_DEVMODE_CONTINUE, IDC_DEVMODE_PAUSE, IDC_DEVMODE_CONTINUE})
        Click(id);
    EXPECT_EQ(Buttons(), "--+-");
    EXPECT_FALSE(devMode->GetStepMode());
    Click(IDC_DEVMODE_PAUSE);
    worker = StartWaiting();
    EXPECT_FALSE(WaitServing(worker, 200));
    // Run leaves the paused state.
    Click(IDC_DEVMODE_RUN);
    ASSERT_TRUE(WaitServing(worker, 10000));
    CloseHandle(worker);
    EXPECT_EQ(Buttons(), "--+-");
    EXPECT_FALSE(devMode->GetStepMode());

    // Pause: the walk stops before its next entry.
    Click(IDC_DEVMODE_PAUSE);
    EXPECT_EQ(Buttons(), "---+");
    EXPECT_TRUE(devMode->GetStepMode());
}

TEST_F(DevModeDlgTest, TheControlsShowAndSetTheSwitches)
{
    devMode->SetSkipReboots(TRUE);
    devMode->SetDisableEngineCleanup(TRUE);
    devMode->SetDetailedLogging(TRUE);
    Open();
    EXPECT_TRUE(IsChecked(IDC_DEVMODE_SKIPREBOOTS));
    EXPECT_FALSE(IsChecked(IDC_DEVMODE_APPCLEANUP));
    EXPECT_TRUE(IsChecked(IDC_DEVMODE_ENGINECLEANUP));
    EXPECT_TRUE(IsChecked(IDC_DEVMODE_LOGGING_ON));
    EXPECT_FALSE(IsChecked(IDC_DEVMODE_LOGGING_OFF));
    // Running, not paused: Pause only.
    EXPECT_EQ(Buttons(), "--+-");

    struct Box {
        int id;
        BOOL (CDevMode::*get)() const;
    } boxes[] = {{IDC_DEVMODE_SKIPREBOOTS, &CDevMode::GetSkipReboots},
                 {IDC_DEVMODE_APPCLEANUP, &CDevMode::GetDisableAppCleanup},
                 {IDC_DEVMODE_ENGINECLEANUP, &CDevMode::GetDisableEngineCleanup}};
    for (const Box& box : boxes) {
        const BOOL before = (devMode->*box.get)();
        Click(box.id);
        EXPECT_EQ((devMode->*box.get)(), !before) << box.id;
        Click(box.id);
        EXPECT_EQ((devMode->*box.get)(), before) << box.id;
    }
    // The log follows the radio buttons at once.
    Click(IDC_DEVMODE_LOGGING_OFF);
    EXPECT_FALSE(app.IsLoggingEnabled());
    EXPECT_FALSE(devMode->GetDetailedLogging());
    Click(IDC_DEVMODE_LOGGING_ON);
    EXPECT_TRUE(app.IsLoggingEnabled());
}

TEST_F(DevModeDlgTest, ItsKeysReachItThroughTheApplicationsMessageFilter)
{
    // The progress window's modal loop hands every message to the application's filter:
    // Alt+B, Alt+A, then Tab from the first box.
    Open();
    MSG key = {GetDlgItem(window, IDC_DEVMODE_PAUSE), WM_SYSCHAR, 'b', 1 << 29, 0, {0, 0}};
    EXPECT_TRUE(app.ProcessMessageFilter(MSGF_DIALOGBOX, &key));
    key.wParam = 'a';
    EXPECT_TRUE(app.ProcessMessageFilter(MSGF_DIALOGBOX, &key));
    EXPECT_TRUE(IsChecked(IDC_DEVMODE_SKIPREBOOTS) && devMode->GetSkipReboots());
    EXPECT_TRUE(IsChecked(IDC_DEVMODE_APPCLEANUP) && devMode->GetDisableAppCleanup());
    SetFocus(GetDlgItem(window, IDC_DEVMODE_SKIPREBOOTS));
    MSG tab = {GetFocus(), WM_KEYDOWN, VK_TAB, 0, 0, {0, 0}};
    EXPECT_TRUE(app.ProcessMessageFilter(MSGF_DIALOGBOX, &tab));
    EXPECT_EQ(GetFocus(), GetDlgItem(window, IDC_DEVMODE_APPCLEANUP));
}

TEST_F(DevModeDlgTest, ClosingForgetsTheWindowEverywhere)
{
    const HWND opened = Open();
    EXPECT_EQ(devMode->GetDevModeDialog(), opened);
    SendMessageA(opened, WM_CLOSE, 0, 0);
    EXPECT_EQ(open, nullptr);
    EXPECT_EQ(devMode->GetDevModeDialog(), nullptr);
    EXPECT_FALSE(IsWindow(opened));
}

// Resource ids of the engine program.
#pragma once

#define IDD_NUV_DIALOG 102
#define IDI_NUV 128
#define IDD_RESTART_DIALOG 134

#define IDC_PROGRESS_BAR 1000
#define IDC_PROGRESS_TEXT 1001
#define IDC_PROGRESS_DOTS 1006
#define IDC_RESTART_BUTTON 1011
#define IDC_RESTART_TEXT 1012

// System-menu command that opens the Development Mode window.
#define IDM_DEVMODE 1130

// Development Mode dialog buttons, enabled while the walk waits at a step.
#define IDC_DEVMODE_STEP 1101
#define IDC_DEVMODE_RUN 1102

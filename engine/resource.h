// Resource ids of the engine program.
#pragma once

#define IDD_NUV_DIALOG 102
#define IDC_PROGRESS_TEXT 1000
#define IDC_PROGRESS_BAR 1001

// Development Mode dialog buttons, enabled while the walk waits at a step.
#define IDC_DEVMODE_STEP 1101
#define IDC_DEVMODE_RUN 1102

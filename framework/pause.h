// The one way the system waits for a while. Tests replace it so that retries and
// waits cost no time; the programs always use the real clock.
#pragma once

void PauseMilliseconds(unsigned long milliseconds);

// Replaces the pause for tests; nullptr restores the real one.
void SetPauseHook(void (*hook)(unsigned long milliseconds));

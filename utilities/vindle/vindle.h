// Vindle: runs beside the engine and waits until it has finished on the machine, or,
// when the engine has already failed, hands the failure over to the factory at once.
#pragma once

// The whole run; the exit code is always 0.
int RunVindle();

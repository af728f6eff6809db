// The machine's local time for stamps and log lines; tests may set a fixed clock.
#pragma once

#include "local_time_values.h"

LocalTimeValues GetLocalTimeValues();

// Replaces the clock for tests; nullptr restores the machine's clock.
void SetLocalTimeSource(LocalTimeValues (*source)());

// The development marker "C:\VELK.SDR" that the drive fix-up utilities look for: a
// machine prepared at a development site runs them as if verbose.
#pragma once

#include <string>

// A line that begins with "rem Created On Server" and names the site " SV", " PROTO" or
// " TEST", each ignoring letter case.
bool IsDevelopmentMarkerLine(const std::string& line);

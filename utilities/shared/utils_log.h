// The log the utilities Fendrix and Morlane share, "C:\Velk\Utils.Log": one line per
// message, the program's prefix first, no time stamp. Without the folder the line is lost.
#pragma once

#include <string>

void WriteUtilsLog(const char* prefix, const std::string& message);

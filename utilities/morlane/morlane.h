// Morlane: moves registry references from one drive to the CD-ROM drive after the fact.
// Record mode (/t) writes every string value that holds the late bind text to a data
// file; apply mode later rewrites those values with the CD-ROM drive's root in place of
// the text, and deletes the data file.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// The string values (REG_SZ, REG_EXPAND_SZ) of an open key, in index order: their names
// (at most 49 characters) and their text up to its first null, read through data (as
// large as the biggest value to be seen). A value whose name or data does not fit is
// passed over; the walk ends when the key has no more values or fails otherwise.
void VisitStringValues(HKEY key, std::vector<BYTE>& data,
                       const std::function<void(const std::string& name, const std::string& text)>& visit);

// The CD-ROM drive's root ("f:\"), or, without one, the letter after the last drive.
std::string FindCdRomRoot();

// The whole run: the command line as the program got it; the program's exit code.
int RunMorlane(const std::string& commandLine);

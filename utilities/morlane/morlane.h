// Morlane: moves registry references from one drive to the CD-ROM drive after the fact.
// Record mode (/t) writes every string value that holds the late bind text to a data
// file; apply mode later rewrites those values with the CD-ROM drive's root in place of
// the text, and deletes the data file.
#pragma once

#include <string>

// The CD-ROM drive's root ("f:\"), or, without one, the letter after the last drive.
std::string FindCdRomRoot();

// The whole run: the command line as the program got it; the program's exit code.
int RunMorlane(const std::string& commandLine);

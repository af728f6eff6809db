// File names between the two machines: Linux keeps them in UTF-8, the run list and the
// engine's calls in the Windows code page 1252. A name is compared in the code page, as
// the machine will see it.
#pragma once

#include <string>

// The UTF-8 name in code page 1252; false when it is not valid UTF-8 or holds a
// character the code page lacks (such a name names nothing on the machine).
bool ConvertUtf8ToWindowsText(const std::string& utf8, std::string& windowsText);

// The code page 1252 text in UTF-8, for a Linux terminal. Every byte has a character.
std::string ConvertWindowsTextToUtf8(const std::string& windowsText);

// Code page 1252 text upper-cased as Windows compares file names: accented letters too.
std::string MakeUpperWindowsText(const std::string& windowsText);

// Whether a run list's name (code page 1252) names the Linux file name, letter case
// ignored as Windows ignores it.
bool IsSameWindowsName(const std::string& listName, const std::string& linuxName);

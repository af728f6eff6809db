// Text helpers shared by every deliverable: the one place where text is upper-cased
// and compared without regard to case, so that all parts agree on what "same" means.
#pragma once

#include <string>

// Upper-cased copy; multibyte-aware on Windows (the system's code page).
std::string MakeUpperText(const std::string& text);

// Case-insensitive equality through MakeUpperText.
bool IsSameText(const std::string& a, const std::string& b);

// Copy without white space (blank, tab, CR, LF, vertical tab, form feed) at both ends.
std::string TrimWhiteSpace(const std::string& text);

// Text helpers shared by every deliverable: the one place where text is upper-cased
// and compared without regard to case, so that all parts agree on what "same" means.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Upper-cased copy; multibyte-aware on Windows (the system's code page).
std::string MakeUpperText(const std::string& text);

// Case-insensitive equality through MakeUpperText.
bool IsSameText(const std::string& a, const std::string& b);

// Copy without white space (blank, tab, CR, LF, vertical tab, form feed) at both ends.
std::string TrimWhiteSpace(const std::string& text);

// A message from one of the system's texts: its first "%s" replaced by text and, when a
// number is given, its first "%d" (or "%ld") by the number. Texts of any length fit.
std::string FormatMessageText(const std::string& format, const std::string& text);
std::string FormatMessageText(const std::string& format, const std::string& text, long number);

// A message from one of the system's texts with several values: each placeholder ("%s",
// "%d", "%ld"), from the left, takes the next argument as it is (numbers as their decimal
// text). The text is filled once: a placeholder inside an argument, as a file name may
// hold, stays as it is. Placeholders beyond the arguments stay too.
std::string FillMessageText(const std::string& format, const std::vector<std::string>& arguments);

// The text read as a decimal number, as atoi reads it (leading white space, a sign,
// digits up to the first other character; no number gives 0), but a value beyond int's
// range gives INT_MAX or INT_MIN rather than undefined behaviour.
int ReadDecimalInteger(const std::string& text);

// The same reading, as a sign and a magnitude held at limit rather than grown past it.
struct DecimalReading {
    bool negative = false;
    std::uint64_t magnitude = 0;
};
DecimalReading ReadDecimal(const std::string& text, std::uint64_t limit);

// A zero-terminated copy of the text that the receiver may change: strings cross to the
// wrapper plug-ins and to CreateProcessA this way.
std::vector<char> MakeWritableCopy(const std::string& text);

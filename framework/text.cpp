#include "text.h"

#include <climits>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <cctype>
#endif

std::string MakeUpperText(const std::string& text)
{
    std::string upper(text);
    if (upper.empty())
        return upper;
#ifdef _WIN32
    // CharUpperBuffA works in place and knows the code page's double-byte characters.
    CharUpperBuffA(&upper[0], static_cast<DWORD>(upper.size()));
#else
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
#endif
    return upper;
}

bool IsSameText(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && MakeUpperText(a) == MakeUpperText(b);
}

std::string TrimWhiteSpace(const std::string& text)
{
    // Spelled out rather than isspace(), which depends on the locale.
    const char* whiteSpace = " \t\r\n\v\f";
    const std::string::size_type first = text.find_first_not_of(whiteSpace);
    if (first == std::string::npos)
        return std::string();
    const std::string::size_type last = text.find_last_not_of(whiteSpace);
    return text.substr(first, last - first + 1);
}

std::string FormatMessageText(const std::string& format, const std::string& text)
{
    std::string message(format);
    const std::string::size_type at = message.find("%s");
    if (at != std::string::npos)
        message.replace(at, 2, text);
    return message;
}

std::string FormatMessageText(const std::string& format, const std::string& text, long number)
{
    // The number first: the text may itself hold a "%d". The system's texts write it
    // "%d" or "%ld", whichever comes first.
    std::string withNumber(format);
    const std::string::size_type plain = withNumber.find("%d");
    const std::string::size_type wide = withNumber.find("%ld");
    if (wide != std::string::npos && (plain == std::string::npos || wide < plain))
        withNumber.replace(wide, 3, std::to_string(number));
    else if (plain != std::string::npos)
        withNumber.replace(plain, 2, std::to_string(number));
    return FormatMessageText(withNumber, text);
}

std::string FillMessageText(const std::string& format, const std::vector<std::string>& arguments)
{
    const char* const placeholders[] = {"%s", "%d", "%ld"};
    std::string message;
    std::size_t next = 0;
    std::string::size_type at = 0;
    while (at < format.size()) {
        std::string::size_type length = 0;
        if (next < arguments.size())
            for (const char* placeholder : placeholders)
                if (format.compare(at, std::char_traits<char>::length(placeholder), placeholder) == 0)
                    length = std::char_traits<char>::length(placeholder);
        if (length == 0) {
            message += format[at++];
            continue;
        }
        message += arguments[next++];
        at += length;
    }
    return message;
}

namespace {
bool IsLeadingWhiteSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

} // namespace

DecimalReading ReadDecimal(const std::string& text, std::uint64_t limit)
{
    std::string::size_type position = 0;
    while (position < text.size() && IsLeadingWhiteSpace(text[position]))
        ++position;
    DecimalReading reading;
    if (position < text.size() && (text[position] == '+' || text[position] == '-')) {
        reading.negative = text[position] == '-';
        ++position;
    }
    for (; position < text.size() && text[position] >= '0' && text[position] <= '9'; ++position) {
        reading.magnitude = reading.magnitude * 10 + static_cast<std::uint64_t>(text[position] - '0');
        if (reading.magnitude >= limit) {
            reading.magnitude = limit;
            break;
        }
    }
    return reading;
}

int ReadDecimalInteger(const std::string& text)
{
    const std::uint64_t intMinMagnitude = static_cast<std::uint64_t>(INT_MAX) + 1;
    const DecimalReading reading = ReadDecimal(text, intMinMagnitude);
    if (!reading.negative)
        return reading.magnitude > INT_MAX ? INT_MAX : static_cast<int>(reading.magnitude);
    return reading.magnitude == intMinMagnitude ? INT_MIN : -static_cast<int>(reading.magnitude);
}

std::vector<char> MakeWritableCopy(const std::string& text)
{
    return std::vector<char>(text.c_str(), text.c_str() + text.size() + 1);
}

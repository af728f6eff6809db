#include "drive_fixup_command_line.h"

#include "text.h"

namespace {

const char kWhiteSpace[] = " \t\r\n\v\f";

const char kTooLong[] = "Command line longer than 1023 characters";
const char kParameterTooLong[] = "Parameter longer than %d characters: %s";

struct ProgramTexts {
    const char* first;
    const char* second;
    const char* third;
};
const ProgramTexts kHobrint = {"Unable to extract drive_path_RUN.NUV (parm1) from command line",
                               "Unable to extract line_token (parm2) from command line",
                               "Unable to extract drive_var (parm3) from command line"};
const ProgramTexts kJaskel = {"Unable to extract drive_path_find_tag_file (parm1) from command line",
                              "Unable to extract drive_path_file_2_edit (parm2) from command line",
                              "Unable to extract drive_var (parm3) from command line"};

std::string TrimRight(const std::string& text)
{
    const std::string::size_type last = text.find_last_not_of(kWhiteSpace);
    return last == std::string::npos ? std::string() : text.substr(0, last + 1);
}

std::string TrimLeft(const std::string& text)
{
    const std::string::size_type first = text.find_first_not_of(kWhiteSpace);
    return first == std::string::npos ? std::string() : text.substr(first);
}

// Cuts the first occurrence of upper (else of lower) out of the text.
bool CutOption(std::string& text, const char* upper, const char* lower)
{
    std::string::size_type at = text.find(upper);
    if (at == std::string::npos)
        at = text.find(lower);
    if (at == std::string::npos)
        return false;
    text.erase(at, 2);
    return true;
}

// A parameter in double or single quotes, or up to the next space; its closing quote or
// space is consumed. Empty when the closing character is missing.
std::string TakeDelimited(const std::string& text, std::string::size_type& at)
{
    char close = ' ';
    std::string::size_type start = at;
    if (at < text.size() && (text[at] == '"' || text[at] == '\'')) {
        close = text[at];
        start = at + 1;
    }
    const std::string::size_type end = text.find(close, start);
    if (end == std::string::npos) {
        at = text.size();
        return std::string();
    }
    at = end + 1;
    return text.substr(start, end - start);
}

std::string::size_type SkipWhiteSpace(const std::string& text, std::string::size_type at)
{
    const std::string::size_type next = text.find_first_not_of(kWhiteSpace, at);
    return next == std::string::npos ? text.size() : next;
}

ParsedCommandLine Usage(const std::string& message)
{
    ParsedCommandLine result;
    result.usage = true;
    result.message = message;
    return result;
}

// Steps 1 to 5, the same in both programs: FALSE when nothing is left.
bool PrepareText(const std::string& commandLine, bool withFirstAvailable, std::string& text,
                 DriveFixupArguments& arguments)
{
    text = TrimRight(TrimLeft(commandLine));
    if (withFirstAvailable)
        arguments.firstAvailable = CutOption(text, "/F", "/f");
    arguments.verbose = CutOption(text, "/V", "/v");
    if (TrimLeft(text).empty())
        return false;
    for (char& c : text)
        if (c == '/')
            c = '\\';
    return true;
}

// The limits of the parameters; empty when they hold.
std::string CheckLimits(const DriveFixupArguments& arguments)
{
    const std::pair<const std::string*, std::size_t> limits[] = {{&arguments.first, kMaxPathParameter},
                                                                 {&arguments.second, kMaxPathParameter},
                                                                 {&arguments.variable, kMaxVariableName}};
    for (const auto& limit : limits)
        if (limit.first->size() > limit.second)
            return FormatMessageText(kParameterTooLong, *limit.first, static_cast<long>(limit.second));
    return std::string();
}

} // namespace

ParsedCommandLine ParseHobrintCommandLine(const std::string& commandLine)
{
    if (TrimLeft(commandLine).size() > kMaxCommandLine)
        return Usage(kTooLong);
    ParsedCommandLine result;
    std::string text;
    if (!PrepareText(commandLine, true, text, result.arguments))
        return Usage("");
    DriveFixupArguments& arguments = result.arguments;
    std::string::size_type at = 0;
    arguments.first = TakeDelimited(text, at);
    if (arguments.first.empty())
        return Usage(kHobrint.first);
    at = SkipWhiteSpace(text, at);
    const std::string::size_type space = text.find(' ', at);
    if (at >= text.size() || space == std::string::npos)
        return Usage(kHobrint.second);
    arguments.second = text.substr(at, space - at);
    at = SkipWhiteSpace(text, space + 1);
    if (at >= text.size())
        return Usage(kHobrint.third);
    arguments.variable = TrimRight(text.substr(at));
    const std::string tooLong = CheckLimits(arguments);
    return tooLong.empty() ? result : Usage(tooLong);
}

ParsedCommandLine ParseJaskelCommandLine(const std::string& commandLine)
{
    if (TrimLeft(commandLine).size() > kMaxCommandLine)
        return Usage(kTooLong);
    ParsedCommandLine result;
    std::string text;
    if (!PrepareText(commandLine, false, text, result.arguments))
        return Usage("");
    DriveFixupArguments& arguments = result.arguments;
    std::string::size_type at = 0;
    std::string first = TakeDelimited(text, at);
    // The drive on the command line plays no part: the tag is looked for on every drive.
    if (!first.empty() && first[0] == ':')
        first.erase(0, 1);
    else if (first.size() >= 2 && first[1] == ':')
        first.erase(0, 2);
    if (first.empty())
        return Usage(kJaskel.first);
    arguments.first = first;
    at = SkipWhiteSpace(text, at);
    if (at >= text.size())
        return Usage(kJaskel.second);
    arguments.second = TakeDelimited(text, at);
    if (arguments.second.empty())
        return Usage(kJaskel.second);
    at = SkipWhiteSpace(text, at);
    if (at >= text.size())
        return Usage(kJaskel.third);
    arguments.variable = TrimRight(text.substr(at));
    const std::string tooLong = CheckLimits(arguments);
    return tooLong.empty() ? result : Usage(tooLong);
}

// The utilities' command lines on any text. The tokenizer of Fendrix and Morlane always
// moves on, ends, and keeps each parameter within its limit as a piece of the line.
// Fendrix and Morlane take their files and keys from those parameters and their switches
// only from parameters that begin with "/" or "-"; Morlane refuses an over-long line
// whole. Tevrost's count and Pomrel's seconds read as the C library reads them, a count
// of 0 or below gives the usage message, and Tevrost runs exactly the text after the
// first space; its position value adds up character by character and its dots never
// grow as time passes.
#include "fendrix_command_line.h"
#include "fuzz_check.h"
#include "morlane_text.h"
#include "next_parameter.h"
#include "pomrel_text.h"
#include "tevrost_text.h"

#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace
{
bool IsPiece(const std::string& piece, const std::string& text)
{
    return text.find(piece) != std::string::npos;
}

bool IsSwitch(const std::string& parameter)
{
    return !parameter.empty() && (parameter[0] == '/' || parameter[0] == '-');
}

void CheckTokenizer(const std::string& text)
{
    int steps = 0;
    for (int position = 0; position >= 0; ++steps) {
        std::string parameter;
        std::string problem;
        const int next = NextParameter(text, position, parameter, problem);
        FUZZ_CHECK(parameter.size() <= kMaxUtilityParameter && IsPiece(parameter, text));
        FUZZ_CHECK(next < 0 || (next > position && static_cast<std::size_t>(next) < text.size()));
        FUZZ_CHECK(problem.empty() || problem == "Invalid Command line param" ||
                   problem == "Individual command line parameter exceeds maximum length");
        position = next;
    }
    FUZZ_CHECK(steps <= static_cast<int>(text.size()) + 1);
}

void CheckFendrix(const std::string& text)
{
    const FendrixArguments arguments = ParseFendrixCommandLine(text);
    for (const std::string* file : {&arguments.source, &arguments.destination})
        FUZZ_CHECK(file->size() <= kMaxUtilityParameter && IsPiece(*file, text) && !IsSwitch(*file));
    FUZZ_CHECK(arguments.destination.empty() || !arguments.source.empty());
    if (text.find_first_of("/-") == std::string::npos)
        FUZZ_CHECK(!arguments.move && !arguments.force);
    if (arguments.move)
        FUZZ_CHECK(IsPiece("/d", text) || IsPiece("-d", text));
    if (arguments.force)
        FUZZ_CHECK(IsPiece("/f", text) || IsPiece("-f", text));
}

void CheckMorlane(const std::string& text)
{
    const MorlaneArguments arguments = ParseMorlaneCommandLine(text);
    FUZZ_CHECK(arguments.tooLong == (text.size() > kMaxMorlaneCommandLine));
    std::string lower = text;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const std::string* part : {&arguments.first, &arguments.second, &arguments.machineKey, &arguments.userKey})
        FUZZ_CHECK(part->size() <= kMaxUtilityParameter && IsPiece(*part, lower));
    FUZZ_CHECK(!IsSwitch(arguments.first) && !IsSwitch(arguments.second));
    FUZZ_CHECK(arguments.messages.empty() || arguments.log);
    if (arguments.tooLong)
        FUZZ_CHECK(arguments.first.empty() && !arguments.log && !arguments.record);
    // Record mode only through a parameter of its own that begins with "/t" or "/T".
    FUZZ_CHECK(IsRecordMode(text) == arguments.record);
    if (arguments.record)
        FUZZ_CHECK(IsPiece("/t", text) || IsPiece("/T", text));
}

// strtoll's reading of the text, clamped to the range given.
long long GetReference(const std::string& text, long long low, long long high)
{
    const long long value = std::strtoll(text.c_str(), nullptr, 10);
    return value < low ? low : value > high ? high : value;
}

void CheckTevrost(const std::string& text)
{
    const TevrostCommand parsed = ParseTevrostCommandLine(text);
    const std::string::size_type space = text.find(' ');
    if (space == std::string::npos) {
        FUZZ_CHECK(parsed.usage);
    } else if (text.find('\0') > space) {
        // A negative count is refused rather than clamped.
        const long long count = GetReference(text.substr(0, space), -1, 0xFFFFFFFFLL);
        FUZZ_CHECK(parsed.usage == (count <= 0));
        if (!parsed.usage)
            FUZZ_CHECK(parsed.count == count);
    }
    if (!parsed.usage) {
        FUZZ_CHECK(parsed.count > 0 && parsed.command == text.substr(space + 1));
        FUZZ_CHECK(parsed.program == parsed.command.substr(0, parsed.command.find(' ')));
    }

    if (!text.empty()) {
        const std::string head = text.substr(0, text.size() - 1);
        const int last = static_cast<signed char>(text[text.size() - 1]);
        const std::uint32_t added = static_cast<std::uint32_t>(head.size()) * static_cast<std::uint32_t>(last + 1);
        FUZZ_CHECK(GetPositionValue(text) == GetPositionValue(head) + added);
    }

    // Elapsed and total seconds from the text's first bytes.
    std::uint32_t values[2] = {0, 0};
    for (std::size_t i = 0; i < 8 && i < text.size(); ++i)
        values[i / 4] = (values[i / 4] << 8) | static_cast<unsigned char>(text[i]);
    const std::uint32_t elapsed = values[0] % 100000;
    const std::uint32_t count = values[1] % 100000;
    const std::string dots = GetCountdownDots(elapsed, count);
    FUZZ_CHECK(dots.size() <= 35 && dots.find_first_not_of('.') == std::string::npos);
    FUZZ_CHECK(elapsed < count || dots.empty());
    FUZZ_CHECK(elapsed >= count || dots.size() <= count - elapsed);
    FUZZ_CHECK(GetCountdownDots(elapsed + 1, count).size() <= dots.size());
}

void CheckPomrel(const std::string& text)
{
    const PomrelCommand parsed = ParsePomrelCommandLine(text);
    FUZZ_CHECK(parsed.usage == (parsed.seconds <= 0));
    FUZZ_CHECK(parsed.skip == (IsPiece("/s", text) || IsPiece("/S", text)));
    if (text.find('\0') == std::string::npos)
        FUZZ_CHECK(parsed.seconds == GetReference(text, INT_MIN, INT_MAX));
}
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    CheckTokenizer(text);
    CheckFendrix(text);
    CheckMorlane(text);
    CheckTevrost(text);
    CheckPomrel(text);
    return 0;
}

// Tevrost's text rules: its command line (a count of seconds, then the command), the
// position value that keeps several countdown windows apart, and the row of dots.
#pragma once

#include <cstdint>
#include <string>

struct TevrostCommand
{
    bool usage = false;   // the usage message is due
    std::uint32_t count = 0;
    std::string command;  // everything after the first space, unchanged
    std::string program;  // the command up to its first space, for the window title
};

// The count is read like a decimal integer from the first word; 0, a negative count, an
// empty command line or one without a space give the usage message.
TevrostCommand ParseTevrostCommandLine(const std::string& commandLine);

// The sum over the command line of index times (character value + 1), the characters
// taken as signed bytes; it wraps around as an unsigned 32-bit number.
std::uint32_t GetPositionValue(const std::string& commandLine);

// The dots for the time left: one a second below 35 seconds, else 35 at the start and
// then proportionally fewer.
std::string GetCountdownDots(std::uint32_t elapsed, std::uint32_t count);

#include "tevrost_text.h"

#include "text.h"

namespace {

const std::uint32_t kMaxDots = 35;

// Like atoi, but unsigned 32 bits, held at their largest value rather than wrapped;
// negative is FALSE.
bool ReadCount(const std::string& word, std::uint32_t& count)
{
    const DecimalReading reading = ReadDecimal(word, 0xFFFFFFFFu);
    count = static_cast<std::uint32_t>(reading.magnitude);
    return !reading.negative || reading.magnitude == 0;
}

} // namespace

TevrostCommand ParseTevrostCommandLine(const std::string& commandLine)
{
    TevrostCommand result;
    const std::string::size_type space = commandLine.find(' ');
    if (commandLine.empty() || space == std::string::npos) {
        result.usage = true;
        return result;
    }
    // A negative count would be an endless wait: the usage text asks for one above 0.
    if (!ReadCount(commandLine.substr(0, space), result.count) || result.count == 0) {
        result.usage = true;
        return result;
    }
    result.command = commandLine.substr(space + 1);
    result.program = result.command.substr(0, result.command.find(' '));
    return result;
}

std::uint32_t GetPositionValue(const std::string& commandLine)
{
    std::uint32_t value = 0;
    for (std::string::size_type index = 0; index < commandLine.size(); ++index) {
        const int character = static_cast<signed char>(commandLine[index]);
        value += static_cast<std::uint32_t>(index) * static_cast<std::uint32_t>(character + 1);
    }
    return value;
}

std::string GetCountdownDots(std::uint32_t elapsed, std::uint32_t count)
{
    if (elapsed >= count)
        return std::string();
    const std::uint32_t left = count - elapsed;
    if (count < kMaxDots)
        return std::string(left, '.');
    if (elapsed == 0)
        return std::string(kMaxDots, '.');
    return std::string(static_cast<std::size_t>(static_cast<std::uint64_t>(left) * kMaxDots / count), '.');
}

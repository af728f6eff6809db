#include "dev_mode_settings.h"

namespace
{
const std::size_t kValueSize = 4;

// File order.
std::int32_t DevModeSettings::*const kFields[] = {&DevModeSettings::disableAppCleanup,
                                                  &DevModeSettings::disableEngineCleanup,
                                                  &DevModeSettings::skipReboots, &DevModeSettings::detailedLogging,
                                                  &DevModeSettings::stepMode};

std::int32_t GetValue(const std::string& bytes, std::size_t at)
{
    std::uint32_t value = 0;
    for (std::size_t i = kValueSize; i > 0; --i)
        value = (value << 8) | static_cast<unsigned char>(bytes[at + i - 1]);
    // Two's complement spelled out: converting a large unsigned value to a signed one is
    // left to the compiler.
    return value <= 0x7FFFFFFFu ? static_cast<std::int32_t>(value) : -static_cast<std::int32_t>(~value) - 1;
}
}

void ReadDevModeSettings(const std::string& bytes, DevModeSettings& settings)
{
    std::size_t at = 0;
    for (std::int32_t DevModeSettings::*field : kFields) {
        if (at + kValueSize > bytes.size())
            return;
        settings.*field = GetValue(bytes, at);
        at += kValueSize;
    }
}

std::string FormatDevModeSettings(const DevModeSettings& settings)
{
    std::string bytes;
    for (std::int32_t DevModeSettings::*field : kFields) {
        const std::uint32_t value = static_cast<std::uint32_t>(settings.*field);
        for (unsigned shift = 0; shift < 32; shift += 8)
            bytes.push_back(static_cast<char>((value >> shift) & 0xFF));
    }
    return bytes;
}

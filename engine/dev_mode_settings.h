// The development-mode settings file "devMode.bin": five 32-bit little-endian values in
// this order, 20 bytes, no header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct DevModeSettings
{
    std::int32_t disableAppCleanup;
    std::int32_t disableEngineCleanup;
    std::int32_t skipReboots;
    std::int32_t detailedLogging;
    std::int32_t stepMode;
};

const std::size_t kDevModeSettingsSize = 20;

// Takes from the file's bytes every value they hold whole; a value a short file lacks
// keeps what settings had. Bytes after the twentieth are not read.
void ReadDevModeSettings(const std::string& bytes, DevModeSettings& settings);

// The file's 20 bytes.
std::string FormatDevModeSettings(const DevModeSettings& settings);

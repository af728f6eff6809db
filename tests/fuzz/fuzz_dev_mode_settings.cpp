// The development-mode settings file "devMode.bin" of any length: a value is read only
// where the file holds it whole, the others keep their defaults, and the 20 bytes
// written read back as the same settings and are the file's first 20 bytes again.
#include "dev_mode_settings.h"
#include "fuzz_check.h"

#include <cstdint>
#include <string>

namespace
{
bool IsSame(const DevModeSettings& a, const DevModeSettings& b)
{
    return a.disableAppCleanup == b.disableAppCleanup && a.disableEngineCleanup == b.disableEngineCleanup &&
           a.skipReboots == b.skipReboots && a.detailedLogging == b.detailedLogging && a.stepMode == b.stepMode;
}
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    // Two sets of defaults tell the values read from the values kept.
    DevModeSettings zeros = {0, 0, 0, 0, 0};
    DevModeSettings ones = {1, 1, 1, 1, 1};
    ReadDevModeSettings(bytes, zeros);
    ReadDevModeSettings(bytes, ones);
    const std::int32_t DevModeSettings::*const fields[] = {
        &DevModeSettings::disableAppCleanup, &DevModeSettings::disableEngineCleanup, &DevModeSettings::skipReboots,
        &DevModeSettings::detailedLogging, &DevModeSettings::stepMode};
    for (std::size_t i = 0; i < 5; ++i) {
        const bool whole = (i + 1) * 4 <= size;
        FUZZ_CHECK(whole ? zeros.*fields[i] == ones.*fields[i] : zeros.*fields[i] == 0 && ones.*fields[i] == 1);
    }

    const std::string written = FormatDevModeSettings(zeros);
    FUZZ_CHECK(written.size() == kDevModeSettingsSize);
    if (size >= kDevModeSettingsSize)
        FUZZ_CHECK(written == bytes.substr(0, kDevModeSettingsSize));
    DevModeSettings readBack = {7, 7, 7, 7, 7};
    ReadDevModeSettings(written, readBack);
    FUZZ_CHECK(IsSame(readBack, zeros));
    return 0;
}

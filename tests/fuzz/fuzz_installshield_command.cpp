// The InstallShield wrapper's option scan on any command: the command is only ever
// extended, by at most " /SMS /S", and always names a log file.
#include "installshield_command.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string given(reinterpret_cast<const char*>(data), size);
    const InstallShieldCommand prepared = PrepareInstallShieldCommand(given);
    if (prepared.command.compare(0, given.size(), given) != 0 || prepared.command.size() > given.size() + 8)
        std::abort();
    if (prepared.logPath.empty() && given.find_first_of("/-") == std::string::npos)
        std::abort();
    return 0;
}

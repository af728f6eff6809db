// The InstallShield wrapper's option scan on any set-up command: the command is only
// ever extended, by one of " /SMS", " /S" or both, and preparing it again changes
// nothing; the log file is the one an "F2" option names, else "setup.log" beside the
// set-up program.
#include "fuzz_check.h"
#include "installshield_command.h"

#include <algorithm>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string given(reinterpret_cast<const char*>(data), size);
    const InstallShieldCommand prepared = PrepareInstallShieldCommand(given);
    FUZZ_CHECK(prepared.command.compare(0, given.size(), given) == 0);
    const std::string added = prepared.command.substr(given.size());
    FUZZ_CHECK(added.empty() || added == " /SMS" || added == " /S" || added == " /SMS /S");

    const InstallShieldCommand again = PrepareInstallShieldCommand(prepared.command);
    FUZZ_CHECK(again.command == prepared.command && again.logPath == prepared.logPath);

    // Beside the program (quoted, or up to the first space), or a piece of the command
    // once its quotes are taken out.
    const std::string::size_type quote = given.empty() || given[0] != '"' ? std::string::npos : given.find('"', 1);
    const std::string program =
        quote != std::string::npos ? given.substr(1, quote - 1) : given.substr(0, given.find(' '));
    const std::string::size_type slash = program.rfind('\\');
    const std::string besideProgram =
        (slash == std::string::npos ? std::string() : program.substr(0, slash + 1)) + "setup.log";
    std::string unquoted = given;
    unquoted.erase(std::remove(unquoted.begin(), unquoted.end(), '"'), unquoted.end());
    FUZZ_CHECK(prepared.logPath == besideProgram || unquoted.find(prepared.logPath) != std::string::npos);
    return 0;
}

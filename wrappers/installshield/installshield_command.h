// An InstallShield set-up command made unattended: " /SMS" and " /S" appended unless
// equal options are there, and the log file the set-up writes its result into.
#pragma once

#include <string>

struct InstallShieldCommand
{
    std::string command;  // as it is run
    std::string logPath;  // from an "F2" option, else "setup.log" beside the set-up program
};

// Options are the pieces after each "/" or "-" that follows the program's path (quoted,
// or up to the first space), up to the next one, less trailing white space; "SMS", "S"
// and "F2..." are recognised ignoring letter case. An F2 option's path runs to the first
// blank outside double quotes, without the quotes, as the set-up reads it.
InstallShieldCommand PrepareInstallShieldCommand(const std::string& given);

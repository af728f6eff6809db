// The MSI wrapper's rewriting of any install command, and the package folder of any
// command: the result is a Windows Installer command line that keeps the package and
// what follows it, and the folder is a part of the command.
#include "msi_command.h"
#include "source_list_text.h"
#include "text.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace
{
void Check(bool condition)
{
    if (!condition)
        std::abort();
}

const CFileVersion kVersions[] = {CFileVersion(), CFileVersion(1, 10, 1029, 0), CFileVersion(2, 0, 2600, 0)};
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string given(reinterpret_cast<const char*>(data), size);
    for (const CFileVersion& installed : kVersions) {
        for (int library = 0; library < 2; ++library) {
            std::string command = given;
            const bool prepared = PrepareMsiCommand(command, library ? kSorvaneProperties : kQuillanProperties,
                                                    library ? kSorvanePropertyCount : kQuillanPropertyCount,
                                                    installed);
            if (!prepared) {
                Check(command == given);
                continue;
            }
            Check(MakeUpperText(command).compare(0, 11, "MSIEXEC /I ") == 0);
            // Every row adds at most its name, value and separators.
            Check(command.size() <= given.size() + 11 + 80);
        }
    }
    std::string folder = given;
    ExtractPackageDirectory(folder);
    Check(MakeUpperText(given).find(folder) != std::string::npos);
    Check(folder.empty() || folder.find('\\') == std::string::npos || folder[folder.size() - 1] == '\\');
    IsPackageFolderSource(given, folder);
    return 0;
}

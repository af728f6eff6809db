// The MSI wrapper's scans of any install command, for every installed version and both
// property tables: a command it rewrites becomes a Windows Installer command line that
// keeps the package, grown by no more than its table's rows; one it refuses is left as
// given. The package folder is a piece of the command, a source value names the folder
// it was made from, key paths keep both parts, and a drive root is never redirected.
#include "fuzz_check.h"
#include "msi_command.h"
#include "source_list_text.h"
#include "text.h"

#include <cstdint>
#include <string>

namespace
{
const CFileVersion kVersions[] = {CFileVersion(), CFileVersion(1, 10, 1029, 0), CFileVersion(2, 0, 2600, 0)};
const char kPrefix[] = "MSIEXEC /I ";
const std::size_t kPrefixLength = sizeof kPrefix - 1;

void CheckPreparedCommand(const std::string& given)
{
    const bool package = IsMsiPackageCommand(given);
    const std::string upperGiven = MakeUpperText(given);
    FUZZ_CHECK(package == (upperGiven.find(".MSI") != std::string::npos &&
                           upperGiven.find("SETUP.EXE") == std::string::npos));
    for (const CFileVersion& installed : kVersions) {
        for (int library = 0; library < 2; ++library) {
            std::string command = given;
            const bool prepared = PrepareMsiCommand(command, library ? kSorvaneProperties : kQuillanProperties,
                                                    library ? kSorvanePropertyCount : kQuillanPropertyCount,
                                                    installed);
            if (!prepared) {
                FUZZ_CHECK(command == given);
                continue;
            }
            FUZZ_CHECK(MakeUpperText(command).compare(0, kPrefixLength, kPrefix) == 0);
            // Every row adds at most its name, value and separators.
            FUZZ_CHECK(command.size() <= given.size() + kPrefixLength + 80);
        }
    }
    // The package the check looks for is a piece of the command itself.
    const std::string path = GetMsiPackagePath(given);
    FUZZ_CHECK(given.find(path) != std::string::npos);
    // The package's place, before any property touches it.
    std::string made = given;
    if (MakeMsiexecCommand(made)) {
        FUZZ_CHECK(MakeUpperText(made).compare(0, kPrefixLength, kPrefix) == 0);
        const std::string package = made.substr(kPrefixLength);
        FUZZ_CHECK(given.size() >= package.size() && given.compare(given.size() - package.size(), package.size(),
                                                                   package) == 0);
    } else {
        FUZZ_CHECK(made == given);
    }
}

void CheckSourceList(const std::string& given)
{
    std::string folder = given;
    ExtractPackageDirectory(folder);
    FUZZ_CHECK(MakeUpperText(given).find(folder) != std::string::npos);
    FUZZ_CHECK(folder.empty() || folder.find('\\') == std::string::npos || folder[folder.size() - 1] == '\\');
    FUZZ_CHECK(folder == MakeUpperText(folder));
    // The value the installer records for the folder names it, in either letter case.
    const std::string base =
        !folder.empty() && folder[folder.size() - 1] == '\\' ? folder.substr(0, folder.size() - 1) : folder;
    // (A ";" separates the sources of a value: no folder of one holds it.)
    if (!base.empty() && base.find(';') == std::string::npos) {
        FUZZ_CHECK(IsPackageFolderSource(folder, folder));
        FUZZ_CHECK(IsPackageFolderSource(given + ";" + base, folder));
    }
    FUZZ_CHECK(!IsPackageFolderSource(given, ""));
    IsPackageFolderSource(given, given);

    if (IsRedirectableFolder(given)) {
        FUZZ_CHECK(!given.empty() && given != "\\");
        FUZZ_CHECK(!(given.size() >= 2 && given.size() <= 3 && given[1] == ':' &&
                     (given.size() == 2 || given[2] == '\\')));
    }

    // The first line and the rest as the two parts of a key path.
    const std::string::size_type split = given.find('\n');
    const std::string first = given.substr(0, split);
    const std::string second = split == std::string::npos ? std::string() : given.substr(split + 1);
    const std::string joined = JoinKeyPath(first, second);
    const std::string a = TrimWhiteSpace(first);
    const std::string b = TrimWhiteSpace(second);
    FUZZ_CHECK(joined == a + b || joined == a + "\\" + b);
    FUZZ_CHECK(joined.size() > a.size() + b.size() || (!a.empty() && a.back() == '\\') ||
               (!b.empty() && b.front() == '\\'));
}
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string given(reinterpret_cast<const char*>(data), size);
    CheckPreparedCommand(given);
    CheckSourceList(given);
    return 0;
}

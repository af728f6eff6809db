// run-list-check RUN.NUV [--sources DIR] [--json]: what would go wrong with a run list
// on the machine, line by line; with --json, the list as the engine reads it and the
// findings, as one JSON object. "-" as RUN.NUV reads the list from standard input (a
// version of a list caught as it was written). Exit code 0 without errors (warnings allowed), 1 with
// errors, 2 when the list cannot be read or the command line is wrong.
#include "run_list_check.h"
#include "run_list_json.h"
#include "source_folder.h"
#include "windows_name.h"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

namespace
{

const char kUsage[] = "usage: run-list-check RUN.NUV [--sources DIR] [--json]\n"
                      "  DIR holds one folder per drive, named by its letter (C, D, ...)\n"
                      "  --json prints the list as the engine reads it, and the findings, as JSON\n"
                      "  - as RUN.NUV reads the list from standard input\n";

bool IsFolderPath(const std::string& path)
{
    std::error_code error;
    return std::filesystem::is_directory(path, error);
}

} // namespace

int main(int argc, char** argv)
{
    std::string list;
    std::string sources;
    bool json = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--sources" && i + 1 < argc && sources.empty())
            sources = argv[++i];
        else if (arg == "--json" && !json)
            json = true;
        else if (list.empty() && (arg == "-" || arg.compare(0, 1, "-") != 0))
            list = arg;
        else
            return std::cerr << kUsage, 2;
    }
    if (list.empty())
        return std::cerr << kUsage, 2;
    std::ostringstream bytes;
    if (list == "-") {
        bytes << std::cin.rdbuf();
        if (std::cin.bad())
            return std::cerr << "standard input: cannot be read\n", 2;
    } else {
        std::ifstream file(list, std::ios::binary);
        if (!file || IsFolderPath(list))
            return std::cerr << list << ": cannot be read\n", 2;
        bytes << file.rdbuf();
        if (file.bad())
            return std::cerr << list << ": cannot be read\n", 2;
    }

    std::unique_ptr<CSourceFolder> tree;
    if (!sources.empty()) {
        if (!IsFolderPath(sources))
            return std::cerr << sources << ": no such folder\n", 2;
        tree.reset(new CSourceFolder(sources));
        if (tree->GetDriveLetters().empty())
            return std::cerr << sources << ": holds no drive folder (C, D, ...)\n", 2;
    }

    const std::vector<RunListFinding> findings = CheckRunList(bytes.str(), tree.get());
    if (json) {
        std::cout << FormatRunListJson(bytes.str(), findings);
        for (const RunListFinding& finding : findings)
            if (finding.level == FindingLevel::Error)
                return 1;
        return 0;
    }
    int errors = 0;
    int warnings = 0;
    for (const RunListFinding& finding : findings) {
        const bool error = finding.level == FindingLevel::Error;
        (error ? errors : warnings)++;
        std::cout << list << ":" << finding.lineNumber << ": " << (error ? "error: " : "warning: ")
                  << ConvertWindowsTextToUtf8(finding.text) << "\n";
    }
    std::cout << errors << (errors == 1 ? " error, " : " errors, ") << warnings
              << (warnings == 1 ? " warning" : " warnings") << "\n";
    return errors ? 1 : 0;
}

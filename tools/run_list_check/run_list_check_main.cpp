// run-list-check RUN.NUV [--sources DIR] [--json]: what would go wrong with a run list
// on the machine, line by line; with --json, the list as the engine reads it and the
// findings, as one JSON object. "-" as RUN.NUV reads the list from standard input (a
// version of a list caught as it was written). Exit code 0 without errors (warnings allowed), 1 with
// errors, 2 when the list cannot be read or the command line is wrong.
//
// run-list-check --json-batch: many lists in one run, for a tool that reads thousands (the
// copies of C:\VELK of a day's PCs): standard input holds each list as its length in
// decimal, a line feed and its bytes; standard output gets one JSON object per list, each
// on one line. Exit code 0, or 2 when the input is not of that form.
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
                      "       run-list-check --json-batch\n"
                      "  DIR holds one folder per drive, named by its letter (C, D, ...)\n"
                      "  --json prints the list as the engine reads it, and the findings, as JSON\n"
                      "  - as RUN.NUV reads the list from standard input\n"
                      "  --json-batch reads lists as LENGTH, a line feed and the bytes from standard input\n"
                      "    and prints one JSON object per list, one a line\n";

// A run list of a PC is a few kilobytes; one beyond this is no run list.
const std::size_t kBatchListLimit = 64u << 20;

int RunBatch()
{
    std::string header;
    while (std::getline(std::cin, header)) {
        if (header.empty() || header.size() > 9 || header.find_first_not_of("0123456789") != std::string::npos)
            return std::cerr << "--json-batch: expected the length of a list, not \"" << header.substr(0, 40)
                             << "\"\n",
                   2;
        const std::size_t length = std::stoul(header);
        if (length > kBatchListLimit)
            return std::cerr << "--json-batch: a list of " << length << " bytes is too long\n", 2;
        std::string bytes(length, '\0');
        if (length && !std::cin.read(&bytes[0], static_cast<std::streamsize>(length)))
            return std::cerr << "--json-batch: the input ends inside a list\n", 2;
        std::string json = FormatRunListJson(bytes, CheckRunList(bytes, nullptr));
        // Its texts escape every control character: a line feed is only layout.
        for (char& c : json)
            if (c == '\n')
                c = ' ';
        std::cout << json << '\n' << std::flush;
    }
    return std::cin.bad() ? (std::cerr << "--json-batch: standard input cannot be read\n", 2) : 0;
}

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
    if (argc == 2 && std::string(argv[1]) == "--json-batch")
        return RunBatch();
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

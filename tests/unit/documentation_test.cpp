// The examples of the user documentation and the release's sample files, checked
// against the code they describe, so that neither can drift from the other.
#include "file_version.h"
#include "installshield_command.h"
#include "line_file_text.h"
#include "message_texts.h"
#include "msi_command.h"
#include "run_entry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace
{
namespace fs = std::filesystem;

const fs::path kSourceDir = VELK_SOURCE_DIR;

std::string ReadFileBytes(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

struct DocTableRow
{
    std::string line;  // as written, to name the row in a failure
    // A cell that is exactly one code span gives its content as written, blanks inside
    // the backticks kept; any other cell gives its text without the blanks around it.
    std::vector<std::string> cells;
};

struct DocTable
{
    std::string section;  // the last heading line above the table
    std::string note;     // an HTML comment on the line above the header, or one line higher past a blank line
    std::string header;   // the header line without the blanks around it
    std::vector<DocTableRow> rows;
};

// Every Markdown table of the text: a header line, a separator line, then rows.
std::vector<DocTable> ReadDocTables(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    const auto trim = [](const std::string& s) {
        const std::string::size_type first = s.find_first_not_of(" \t");
        return first == std::string::npos ? std::string() : s.substr(first, s.find_last_not_of(" \t") - first + 1);
    };
    const auto isTableLine = [&](std::size_t i) { return i < lines.size() && trim(lines[i]).rfind('|', 0) == 0; };

    std::vector<DocTable> tables;
    std::string section;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].rfind('#', 0) == 0)
            section = lines[i];
        const std::string separator = trim(i + 1 < lines.size() ? lines[i + 1] : std::string());
        if (!isTableLine(i) || separator.size() < 2 || separator[0] != '|' ||
            separator.find_first_not_of("|-: ") != std::string::npos)
            continue;
        DocTable table;
        table.section = section;
        table.header = trim(lines[i]);
        const std::size_t noteLine = (i >= 2 && trim(lines[i - 1]).empty()) ? i - 2 : i - 1;
        if (i >= 1 && trim(lines[noteLine]).rfind("<!--", 0) == 0)
            table.note = trim(lines[noteLine]);
        for (i += 2; isTableLine(i); ++i) {
            DocTableRow row;
            row.line = trim(lines[i]);
            // Bars inside a code span belong to it.
            std::string cell;
            bool inCode = false;
            for (std::size_t at = 1; at < row.line.size(); ++at) {
                const char c = row.line[at];
                if (c == '|' && !inCode) {
                    row.cells.push_back(trim(cell));
                    cell.clear();
                    continue;
                }
                if (c == '`')
                    inCode = !inCode;
                cell += c;
            }
            if (!trim(cell).empty())
                row.cells.push_back(trim(cell));
            for (std::string& value : row.cells) {
                if (value.size() >= 2 && value.front() == '`' && value.back() == '`' &&
                    value.find('`', 1) == value.size() - 1)
                    value = value.substr(1, value.size() - 2);
            }
            table.rows.push_back(row);
        }
        --i;
        tables.push_back(table);
    }
    return tables;
}
}

// Each prepared line, given the stamps of its written-back form, must come out as that
// form byte for byte.
TEST(Documentation, RunListExamplesAreWrittenBackAsShown)
{
    const char kSection[] = "## Examples: a line as prepared and as the engine writes it back";
    const char kHeader[] = "| As prepared | As the engine writes it back |";
    const auto readStampTime = [](const std::string& stamp) {
        LocalTimeValues time;
        const std::string::size_type blank = stamp.rfind(' ');
        std::sscanf(stamp.c_str() + (blank == std::string::npos ? 0 : blank + 1), "%d:%d:%d", &time.hour,
                    &time.minute, &time.second);
        return time;
    };

    int rowCount = 0;
    for (const DocTable& table : ReadDocTables(ReadFileBytes(kSourceDir / "docs/run-list.md"))) {
        if (table.section != kSection || table.header != kHeader)
            continue;
        for (const DocTableRow& row : table.rows) {
            ++rowCount;
            if (row.cells.size() != 2) {
                ADD_FAILURE() << "run-list.md, not two cells: " << row.line;
                continue;
            }
            CRunEntry entry(1, row.cells[0]);
            const CRunEntry after(1, row.cells[1]);
            if (!after.GetStartTime().empty())
                entry.SetStartTime(readStampTime(after.GetStartTime()));
            if (!after.GetStopTime().empty())
                entry.SetStopTime(readStampTime(after.GetStopTime()));
            if (!after.GetCleanTime().empty())
                entry.SetCleanTime(readStampTime(after.GetCleanTime()));
            EXPECT_EQ(entry.FormatLine(), row.cells[1]) << "run-list.md: " << row.line;
        }
    }
    EXPECT_GT(rowCount, 0) << "no table " << kHeader << " under " << kSection << " in docs/run-list.md";
}

// Each example table names its wrapper (and for Windows Installer, the installed
// version) in the comment above it; the command started must be what that wrapper makes.
TEST(Documentation, WrapperExamplesStartTheCommandsShown)
{
    const char kHeader[] = "| Command in the run list | Command started |";
    int rowCount = 0;
    for (const DocTable& table : ReadDocTables(ReadFileBytes(kSourceDir / "docs/wrappers.md"))) {
        if (table.header != kHeader)
            continue;
        std::istringstream note(table.note);
        std::string opening, keyword, name, option;
        note >> opening >> keyword >> name >> option;
        unsigned version[4] = {0, 0, 0, 0};
        const bool hasVersion = std::sscanf(option.c_str(), "msi=%u.%u.%u.%u", &version[0], &version[1],
                                            &version[2], &version[3]) == 4;
        const CFileVersion installed(version[0], version[1], version[2], version[3]);
        const bool isMsi = name == "quillan" || name == "sorvane";
        const bool isInstallShield = name == "brakkis" || name == "brakkel";
        if (opening != "<!--" || keyword != "example:" || (name != "ostrel" && !isMsi && !isInstallShield) ||
            (isMsi && !hasVersion)) {
            ADD_FAILURE() << "wrappers.md: a table " << kHeader << " without a known example comment above it: \""
                          << table.note << "\" (first row: "
                          << (table.rows.empty() ? std::string() : table.rows.front().line) << ")";
            continue;
        }
        EXPECT_FALSE(table.rows.empty()) << "wrappers.md: example " << table.note << " has no rows";
        for (const DocTableRow& row : table.rows) {
            ++rowCount;
            if (row.cells.size() != 2) {
                ADD_FAILURE() << "wrappers.md, not two cells: " << row.line;
                continue;
            }
            const std::string& given = row.cells[0];
            std::string started = given;
            if (isMsi) {
                // As the MSI wrapper does it: a command it refuses is left as given.
                std::string command = given;
                const bool quillan = name == "quillan";
                if (IsMsiPackageCommand(command) &&
                    PrepareMsiCommand(command, quillan ? kQuillanProperties : kSorvaneProperties,
                                      quillan ? kQuillanPropertyCount : kSorvanePropertyCount, installed))
                    started = command;
            } else if (isInstallShield) {
                started = PrepareInstallShieldCommand(given).command;
            }
            EXPECT_EQ(started, row.cells[1]) << "wrappers.md: " << row.line << " (" << table.note << ")";
        }
    }
    EXPECT_GT(rowCount, 0) << "no table " << kHeader << " in docs/wrappers.md";
}

// The release's sample nuv.txt sets every text, each to the engine's own built-in one.
TEST(Documentation, SampleMessageTextFileHoldsEveryBuiltInText)
{
    struct TextField
    {
        const char* key;
        std::string MessageTexts::*text;
    };
    const TextField kFields[] = {
        {"MSG_ICONTITLE", &MessageTexts::iconTitle},   {"MSG_TITLE", &MessageTexts::title},
        {"MSG_INPROGRESS", &MessageTexts::inProgress}, {"MSG_SUCCESS", &MessageTexts::success},
        {"MSG_FAILGENERAL", &MessageTexts::failGeneral}, {"MSG_NOPRIVS", &MessageTexts::noPrivileges},
        {"MSG_RESTART", &MessageTexts::restart},       {"MSG_RESTART_BTN", &MessageTexts::restartButton},
    };

    const std::string bytes = ReadFileBytes(kSourceDir / "package/nuv.txt");
    ASSERT_FALSE(bytes.empty()) << "package/nuv.txt is missing or empty";
    std::vector<std::string> lines;
    std::size_t offset = 0;
    for (std::string line; ReadNextLine(bytes, offset, line);)
        lines.push_back(line);

    MessageTexts texts;
    for (const TextField& field : kFields)
        texts.*field.text = "unset";
    ApplyMessageTextLines(lines, texts);
    const MessageTexts defaults;
    for (const TextField& field : kFields)
        EXPECT_EQ(texts.*field.text, defaults.*field.text) << "package/nuv.txt: " << field.key;
}

// The first column of every table of messages.md is a text as a string literal of the
// source holds it, escapes as written.
TEST(Documentation, MessageTextsStandInTheSource)
{
    // Literal contents between their quotes, adjacent literals joined as the compiler
    // joins them; comments and character literals are passed over.
    std::vector<std::string> literals;
    for (const char* folder : {"engine", "wrappers", "framework", "runlist", "utilities"}) {
        for (const fs::directory_entry& file : fs::recursive_directory_iterator(kSourceDir / folder)) {
            const std::string extension = file.path().extension().string();
            if (!file.is_regular_file() || (extension != ".cpp" && extension != ".h" && extension != ".c"))
                continue;
            const std::string source = ReadFileBytes(file.path());
            bool joinsLiteral = false;
            for (std::size_t i = 0; i < source.size(); ++i) {
                const char c = source[i];
                if (source.compare(i, 2, "//") == 0 || source.compare(i, 2, "/*") == 0) {
                    const bool line = source[i + 1] == '/';
                    i = source.find(line ? "\n" : "*/", i + 2);
                    if (i == std::string::npos)
                        break;
                    i += line ? 0 : 1;
                    joinsLiteral = false;
                } else if (c == '"' || c == '\'') {
                    std::string content;
                    for (++i; i < source.size() && source[i] != c && source[i] != '\n'; ++i) {
                        if (source[i] == '\\' && i + 1 < source.size())
                            content += source[i++];
                        content += source[i];
                    }
                    if (c == '"' && joinsLiteral)
                        literals.back() += content;
                    else if (c == '"')
                        literals.push_back(content);
                    joinsLiteral = c == '"';
                } else if (!std::isspace(static_cast<unsigned char>(c))) {
                    joinsLiteral = false;
                }
            }
        }
    }
    ASSERT_FALSE(literals.empty()) << "no string literals found under " << kSourceDir;

    int rowCount = 0;
    for (const DocTable& table : ReadDocTables(ReadFileBytes(kSourceDir / "docs/messages.md"))) {
        for (const DocTableRow& row : table.rows) {
            ++rowCount;
            const std::string text = row.cells.empty() ? std::string() : row.cells.front();
            const bool found = !text.empty() && std::any_of(literals.begin(), literals.end(), [&](const std::string& l) {
                return l.find(text) != std::string::npos;
            });
            EXPECT_TRUE(found) << "in no string literal of the source: \"" << text << "\" ("
                               << "messages.md: " << row.line << ")";
        }
    }
    EXPECT_GT(rowCount, 0) << "no tables in docs/messages.md";
}

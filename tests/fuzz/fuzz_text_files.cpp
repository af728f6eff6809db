// The engine's text files from outside: "nuv.txt" and WININIT.INI. A message text is its
// built-in value or a piece of the file; texts written as key lines read back as written;
// the WININIT edit keeps every line, adds exactly one deletion, and what it writes reads
// back as the same lines.
#include "fuzz_check.h"
#include "line_file_text.h"
#include "message_texts.h"
#include "wininit_text.h"

#include <cstdint>
#include <string>
#include <vector>

namespace
{
typedef std::string MessageTexts::*MessageText;

const struct
{
    const char* key;
    MessageText text;
} kKeys[] = {
    {"MSG_ICONTITLE", &MessageTexts::iconTitle},     {"MSG_TITLE", &MessageTexts::title},
    {"MSG_INPROGRESS", &MessageTexts::inProgress},   {"MSG_SUCCESS", &MessageTexts::success},
    {"MSG_FAILGENERAL", &MessageTexts::failGeneral}, {"MSG_NOPRIVS", &MessageTexts::noPrivileges},
    {"MSG_RESTART_BTN", &MessageTexts::restartButton}, {"MSG_RESTART", &MessageTexts::restart},
};

std::vector<std::string> ReadAllLines(const std::string& bytes)
{
    std::vector<std::string> lines;
    std::size_t offset = 0;
    std::string line;
    while (ReadNextLine(bytes, offset, line))
        lines.push_back(line);
    return lines;
}

void CheckMessageTexts(const std::string& bytes)
{
    const std::vector<std::string> lines = ReadAllLines(bytes);
    MessageTexts texts;
    ApplyMessageTextLines(lines, texts);
    std::string joined;
    for (const std::string& line : lines)
        joined += line + "\n";
    const MessageTexts defaults;
    for (const auto& key : kKeys)
        FUZZ_CHECK(texts.*key.text == defaults.*key.text || joined.find(texts.*key.text) != std::string::npos);

    // The lines of the input, each less what could make it another key or another line,
    // written as the texts in turn: each reads back as written, the last one of a key wins.
    MessageTexts expected;
    std::vector<std::string> file;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string value = lines[i];
        if (value.find("MSG_") != std::string::npos || value.find_first_of("\r\n") != std::string::npos)
            continue;
        const auto& key = kKeys[i % (sizeof kKeys / sizeof kKeys[0])];
        file.push_back(std::string(key.key) + "=\"" + value + "\"");
        expected.*key.text = value;
    }
    MessageTexts readBack;
    ApplyMessageTextLines(file, readBack);
    for (const auto& key : kKeys)
        FUZZ_CHECK(readBack.*key.text == expected.*key.text);
}

void CheckWininit(const std::string& bytes)
{
    const char deletion[] = "NUL=C:\\VELK\\NUV\\NUV.EXE";
    const std::vector<std::string> before = SplitWininitBytes(bytes);
    const std::vector<std::string> after = AddWininitDeletion(before, "C:\\VELK\\NUV\\NUV.EXE");
    FUZZ_CHECK(after.size() >= before.size() + 1 && after.size() <= before.size() + 4);
    std::size_t added = 0;
    for (const std::string& l : after)
        added += l == deletion;
    std::size_t had = 0;
    for (const std::string& l : before)
        had += l == deletion;
    FUZZ_CHECK(added == had + 1);
    // Every line that was there is still there, in its order.
    std::size_t next = 0;
    for (const std::string& l : after)
        if (next < before.size() && l == before[next])
            ++next;
    FUZZ_CHECK(next == before.size());
    FUZZ_CHECK(SplitWininitBytes(JoinWininitLines(after)) == after);
    FUZZ_CHECK(AddWininitDeletion(before, "") == before);
}
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    CheckMessageTexts(bytes);
    CheckWininit(bytes);
    return 0;
}

// The engine's other text files from outside: "nuv.txt" and WININIT.INI. Any bytes must
// be read without harm, and the WININIT edit must keep every line and add exactly one.
#include "line_file_text.h"
#include "message_texts.h"
#include "wininit_text.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace
{
void Check(bool condition)
{
    if (!condition)
        std::abort();
}
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);

    std::vector<std::string> lines;
    std::size_t offset = 0;
    std::string line;
    while (ReadNextLine(bytes, offset, line))
        lines.push_back(line);
    MessageTexts texts;
    ApplyMessageTextLines(lines, texts);

    const std::vector<std::string> before = SplitWininitBytes(bytes);
    const std::vector<std::string> after = AddWininitDeletion(before, "C:\\VELK\\NUV\\NUV.EXE");
    Check(after.size() >= before.size() + 1);
    std::size_t added = 0;
    for (const std::string& l : after)
        added += l == "NUL=C:\\VELK\\NUV\\NUV.EXE";
    std::size_t had = 0;
    for (const std::string& l : before)
        had += l == "NUL=C:\\VELK\\NUV\\NUV.EXE";
    Check(added == had + 1);
    // What is written reads back as the same lines.
    Check(SplitWininitBytes(JoinWininitLines(after)) == after);
    return 0;
}

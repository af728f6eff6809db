#include "run_list_reading.h"

#include "line_file_text.h"
#include "run_list_text.h"
#include "text.h"

std::vector<RunListReading> ReadRunListAsEngine(const std::string& bytes)
{
    std::vector<RunListReading> entries;
    std::size_t offset = 0;
    std::string line;
    int engineLine = 0;
    int fileLine = 1;
    bool continued = false;
    while (true) {
        const std::size_t start = offset;
        if (!ReadNextLine(bytes, offset, line))
            break;
        ++engineLine;
        // More bytes consumed than returned: a line end closed this part.
        const bool ended = offset - start > line.size() || offset == bytes.size();
        if (GetRunListLineKind(line) == RunListLineKind::Entry) {
            const std::string trimmed = TrimWhiteSpace(line);
            entries.push_back({static_cast<int>(entries.size()) + 1, fileLine, continued || !ended, trimmed,
                               CRunEntry(engineLine, trimmed)});
        }
        continued = !ended;
        if (ended)
            ++fileLine;
    }
    return entries;
}

#include "run_list_text.h"

namespace
{
const char kCommentMark = '#';
}

RunListLineKind GetRunListLineKind(const std::string& line)
{
    const std::string trimmed = TrimWhiteSpace(line);
    if (trimmed.empty())
        return RunListLineKind::Blank;
    if (trimmed[0] == kCommentMark)
        return RunListLineKind::Comment;
    return RunListLineKind::Entry;
}

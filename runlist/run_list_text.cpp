#include "run_list_text.h"

namespace
{
const char kCommentMark = '#';
const char kFieldDelimiter = ',';
}

const char kRebootFieldText[] = "REBOOT";

RunListLineKind GetRunListLineKind(const std::string& line)
{
    const std::string trimmed = TrimWhiteSpace(line);
    if (trimmed.empty())
        return RunListLineKind::Blank;
    if (trimmed[0] == kCommentMark)
        return RunListLineKind::Comment;
    return RunListLineKind::Entry;
}

std::vector<std::string> SplitRunListFields(const std::string& line)
{
    const std::string text = TrimWhiteSpace(line);
    std::vector<std::string> fields;
    std::string::size_type fieldStart = 0;
    while (fieldStart < text.size()) {
        std::string::size_type fieldEnd = text.find(kFieldDelimiter, fieldStart);
        if (fieldEnd == std::string::npos)
            fieldEnd = text.size();
        fields.push_back(TrimWhiteSpace(text.substr(fieldStart, fieldEnd - fieldStart)));
        fieldStart = fieldEnd + 1;
    }
    return fields;
}

bool IsRebootField(const std::string& field)
{
    return IsSameText(field, kRebootFieldText);
}

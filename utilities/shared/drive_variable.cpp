#include "drive_variable.h"

#include "text.h"

std::string MakeDriveVariablePattern(const std::string& name)
{
    return "${" + name + "}";
}

std::string::size_type FindNoCase(const std::string& text, const std::string& pattern)
{
    return MakeUpperText(text).find(MakeUpperText(pattern));
}

void ReplaceDriveVariable(std::string& line, const std::string& pattern, char letter)
{
    // Each replacement shortens the line (a pattern is at least "${}"), so this ends.
    if (pattern.size() < 2)
        return;
    const std::string upperPattern = MakeUpperText(pattern);
    const std::string upperLetter = MakeUpperText(std::string(1, letter));
    std::string upper = MakeUpperText(line);
    // As if searched from the start each time: a replacement can only make a new
    // occurrence that begins less than a pattern's length before it.
    for (std::string::size_type at = upper.find(upperPattern); at != std::string::npos;) {
        line.replace(at, pattern.size(), 1, letter);
        upper.replace(at, pattern.size(), upperLetter);
        at = upper.find(upperPattern, at + 1 >= pattern.size() ? at + 1 - pattern.size() : 0);
    }
}

std::string GetSiblingPath(const std::string& path, const std::string& name)
{
    const std::string::size_type slash = path.rfind('\\');
    return slash == std::string::npos ? name : path.substr(0, slash + 1) + name;
}

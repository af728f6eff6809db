// The texts of the progress and countdown dialogs, with the replacements that a
// "nuv.txt" beside the engine may give for them.
#pragma once

#include <string>
#include <vector>

struct MessageTexts
{
    // Every text starts with its built-in value.
    MessageTexts();

    std::string iconTitle;
    std::string title;
    std::string inProgress;
    std::string success;
    std::string failGeneral;
    std::string noPrivileges;
    std::string restart;
    std::string restartButton;
};

// Applies the lines of a message-text file, read without their line ends. A line
// that does not end in a double quote goes on over the following lines (joined with
// "\n") up to one that does, or to the end. The first key in the fixed key order that
// occurs anywhere in the line picks the text; the value is what follows the first
// double quote, less the closing quote. Later lines win; lines without a key, and
// keyed lines without any double quote, change nothing. A value whose closing quote
// never came keeps all it has, up to the end of the file.
void ApplyMessageTextLines(const std::vector<std::string>& lines, MessageTexts& texts);

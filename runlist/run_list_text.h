// Text rules of the run list that apply to a line before it becomes an entry.
#pragma once

#include "text.h"

#include <string>
#include <vector>

enum class RunListLineKind
{
    Blank,    // nothing but white space: ignored
    Comment,  // first character after the white space is "#": ignored
    Entry     // anything else: one package to install
};


RunListLineKind GetRunListLineKind(const std::string& line);

// The fields of an entry line: the trimmed line cut at every comma (there is no
// quoting), each field trimmed. No text after a comma adds no field, so a trailing
// comma gives none and two commas in a row give an empty one.
std::vector<std::string> SplitRunListFields(const std::string& line);

// The fifth field's one meaningful text, as the engine writes it.
extern const char kRebootFieldText[];

// Whether a fifth field asks for a restart: "REBOOT" in any letter case.
bool IsRebootField(const std::string& field);

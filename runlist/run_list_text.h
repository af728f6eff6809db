// Text rules of the run list that apply to a line before it becomes an entry.
#pragma once

#include "text.h"

#include <string>

enum class RunListLineKind
{
    Blank,    // nothing but white space: ignored
    Comment,  // first character after the white space is "#": ignored
    Entry     // anything else: one package to install
};


RunListLineKind GetRunListLineKind(const std::string& line);

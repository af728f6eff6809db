// Hobrint: resolves drive variables in a run list. For every line that begins with the
// token and holds "${variable}", the fixed drive that holds the line's program (or, with
// /F, the first writable fixed drive after C:) is written in place of the variable.
#pragma once

#include <string>

// The whole run: the command line as the program got it; the program's exit code.
int RunHobrint(const std::string& commandLine);

// The command-line tokenizer of Fendrix and Morlane: parameters separated by spaces only
// (a tab belongs to a parameter), a parameter in double quotes may hold spaces.
#pragma once

#include <string>

const std::size_t kMaxUtilityParameter = 260;

// Copies the parameter at position into parameter (at most 260 characters; a longer one
// is cut) and returns the position of the next one, or -1 at the end of the text. problem
// receives the log text of what was wrong ("Invalid Command line param" for an empty
// command line, the length message for a parameter cut), or stays empty.
int NextParameter(const std::string& commandLine, int position, std::string& parameter, std::string& problem);

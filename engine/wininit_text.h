// The text of WININIT.INI, through which the Windows 9x family deletes files and
// folders at its next start: CR LF lines, and a "[rename]" section (any letter case)
// of "NUL=" lines, each naming a short (8.3) path to delete.
#pragma once

#include <string>
#include <vector>

// The lines with one more deletion: "NUL=" and the short path go directly under the
// first section header, so the latest deletion comes first. Without a header the
// lines get, after an empty line when there were any, "[rename]", an empty line and
// the new line. An empty short path names nothing to delete: the lines are returned
// unchanged.
std::vector<std::string> AddWininitDeletion(const std::vector<std::string>& lines,
                                            const std::string& shortPath);

// The file's bytes: every line followed by CR LF.
std::string JoinWininitLines(const std::vector<std::string>& lines);

// The file's lines: each ends at a line feed, loses the carriage return right before
// it, and is kept whole however long it is. A last line without a line feed is a line
// too (less a carriage return at its end); nothing follows the last line feed.
std::vector<std::string> SplitWininitBytes(const std::string& bytes);

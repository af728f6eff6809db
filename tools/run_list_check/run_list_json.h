// The check's reading of a run list as JSON, for the tools that show a list (the
// rehearsal's report): the entries as the engine reads them and the findings.
#pragma once

#include "run_list_check.h"

#include <string>
#include <vector>

// A JSON string of Windows text (code page 1252), as UTF-8: any bytes give valid JSON.
std::string MakeJsonText(const std::string& windowsText);

// One object: "entries" (number, line_number, engine_line_number, cut, line, formatted,
// wrapper, command, cleanup, timeout, timeout_seconds, reboot, stamps), "findings"
// (line_number, level, text), "errors" and "warnings".
std::string FormatRunListJson(const std::string& bytes, const std::vector<RunListFinding>& findings);

// Every file and folder the engine uses, each named once. Windows paths ignore letter
// case; where the engine creates a file, its name keeps the case written here.
#pragma once

#include "run_list_file.h"
#include "wrapper.h"

// The error file is shared with the plug-ins: its existence fails the whole run.
const char kErrorFile[] = WRAPPER_ERROR_FILE;
const char kLogFile[] = "c:\\velk\\nuv.log";
const char kFinishedMark[] = "C:\\Velk\\nuv.dun";
const char kDisketteLog[] = "a:\\log";

// The engine's folder on the current drive, and what it holds.
const char kEngineFolder[] = "\\Velk\\NUV";
const char kEngineProgram[] = "\\Velk\\NUV\\NUV.exe";
const char kEngineProgramName[] = "NUV.EXE";
const char kEngineFilesPattern[] = "C:\\Velk\\NUV\\*";
const char kEngineFilesFolder[] = "C:\\Velk\\NUV\\";
const char kLogTag[] = "c:\\velk\\nuv\\nuvlog.tag";
const char kDevModeMarker[] = "c:\\velk\\nuv\\devmode.nuv";
const char kDevModeSettings[] = "c:\\velk\\nuv\\devMode.bin";
// Its rewrite, and where it stands while the rewrite takes its place (9x family).
const char kDevModeSettingsRewrite[] = "c:\\velk\\nuv\\~devMode.bin";
const char kDevModeSettingsAside[] = "c:\\velk\\nuv\\~devMode.old";
const char kRanOnceMark[] = "C:\\VELK\\NUV\\RANONCE.NUV";
const char kMessageTextFile[] = "nuv.txt";

// The factory test environment.
const char kKorbMarker[] = "C:\\VELK\\KORB\\quorvane.exe";
const char kKorbErrorCopy[] = "c:\\velk\\korb\\nuv.err";
const char kKorbFailTag[] = "C:\\Velk\\KORB\\ZKTFAIL.TAG";

// Restart-time deletion on the 9x family, in the Windows folder.
const char kWininitName[] = "\\WININIT.INI";
// Its rewrite, and where it stands while the rewrite takes its place.
const char kWininitRewriteName[] = "\\~WININIT.INI";
const char kWininitAsideName[] = "\\~WININIT.OLD";

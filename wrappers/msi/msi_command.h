// Turning a run-list install command into an unattended Windows Installer command line:
// "MSIEXEC /I" and the package, then the public properties and the quiet option of the
// library's tables, as the installed Windows Installer version allows.
#pragma once

#include "file_version.h"

#include <cstddef>
#include <string>

// Modes of a table row.
const int kReplaceDifferentValue = 1;  // an existing different value is replaced
const int kKeepExistingValue = 2;      // an existing value stays

struct MsiPropertyRow
{
    const char* name;
    const char* value;
    int mode;
    CFileVersion minimum;
};

struct MsiOptionRow
{
    const char* option;
    int mode;
    CFileVersion minimum;
};

// Quillan applies all four rows, Sorvane the first only.
extern const MsiPropertyRow kQuillanProperties[];
extern const std::size_t kQuillanPropertyCount;
extern const MsiPropertyRow kSorvaneProperties[];
extern const std::size_t kSorvanePropertyCount;
extern const MsiOptionRow kMsiOptions[];
extern const std::size_t kMsiOptionCount;

// A command the wrapper rewrites: it names a ".MSI" package and no "SETUP.EXE" (in any
// letter case). Every other command runs as it is.
bool IsMsiPackageCommand(const std::string& command);

// The package a Windows Installer command names, found where the wrapper finds it (a
// quoted package without its quotes); empty when a quoted package has no opening quote.
std::string GetMsiPackagePath(const std::string& command);

// Puts "MSIEXEC /I " directly before the package (dropping what stood before it), or
// only checks a command that starts with it. FALSE: the package does not directly follow
// "MSIEXEC /I ", or a quoted package has no opening quote; the command is then as given.
bool MakeMsiexecCommand(std::string& command);

// Adds, replaces or removes the row's property (searched as written, case-sensitively).
void ApplyMsiProperty(std::string& command, const MsiPropertyRow& row, const CFileVersion& installed);
// Adds or removes the row's option.
void ApplyMsiOption(std::string& command, const MsiOptionRow& row, const CFileVersion& installed);

// MakeMsiexecCommand, then every property row in order and every option row. FALSE when
// MakeMsiexecCommand refused the command.
bool PrepareMsiCommand(std::string& command, const MsiPropertyRow* rows, std::size_t rowCount,
                       const CFileVersion& installed);

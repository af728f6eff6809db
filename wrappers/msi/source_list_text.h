// The text rules of the source-list redirection: the package folder of an install
// command, registry key paths, and which source-list values name the package folder.
#pragma once

#include <string>

// The upper-cased folder of the package the command installs, with its trailing
// backslash: the command before its first ".MSI" (else ".EXE"), after the last space
// before it (after the opening double quote when it stands inside quotes), cut after
// the last backslash. Without either extension: the text before the first space, or
// nothing when there is none.
void ExtractPackageDirectory(std::string& command);

// The two parts, trimmed, joined by one backslash unless either side already has it.
std::string JoinKeyPath(const std::string& first, const std::string& second);

// Whether a source-list value names the package folder (both compared in upper case):
// one of its ";"-separated sources is the folder, with or without its trailing
// backslash. So "c:\apps\foo\" and "c:\apps\foo" name C:\APPS\FOO\, and
// "c:\apps\foobar\", "c:\apps\foo\sub\" and "d:\x\c:\apps\foo" do not.
bool IsPackageFolderSource(const std::string& data, const std::string& folder);

// The package folder as the file system reads it: repeated backslashes are one (after
// the two that open "\\server"), "." is dropped and ".." takes away the folder before
// it, never the drive ("X:") or the share ("\\server\share"). A trailing backslash
// stays. So "C:\\" is "C:\" and "C:\APPS\..\" is "C:\": both a drive's root.
std::string NormalizePackageFolder(const std::string& folder);

// Whether a package folder is a full path: a drive letter, a colon and a backslash, or
// "\\server\share\"; without double quotes.
bool IsFullFolder(const std::string& folder);

// Whether a package folder is specific enough for its sources to be deleted: a full path
// and not a drive's root.
bool IsRedirectableFolder(const std::string& folder);

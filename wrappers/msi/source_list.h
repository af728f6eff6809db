// After a package is installed: the source-list redirection. When its tag file exists,
// the first SourceList\Net value of each installed product that names the package's
// folder is deleted, so that Windows Installer does not look for the sources there
// again. Every step goes to its own log; nothing reaches the error file.
#pragma once

#include <windows.h>

#include <string>

// FALSE only when the product root cannot be opened; the caller ignores it.
BOOL RedirectSourceList(const std::string& installCommand);

// Appends one time-stamped record to "c:\velk\nuv\srcredir.log".
void WriteSrcRedirLog(const std::string& text);

HKEY OpenInstallerKey(HKEY parent, const std::string& path, BOOL readOnly);

// TRUE when a value naming the folder was found and deleted.
BOOL DeleteNetSource(HKEY netKey, const std::string& folder);

// Only logs which product's media entry would take over; changes nothing.
BOOL RedirectLastUsedSource(HKEY mediaKey, HKEY root, const std::string& product);

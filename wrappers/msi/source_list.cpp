#include "source_list.h"

#include "file_bytes.h"
#include "log_file.h"
#include "os_family.h"
#include "registry_view.h"
#include "local_time.h"
#include "source_list_text.h"
#include "text.h"
#include "time_stamp_text.h"

namespace {

const char kTagFile[] = "c:\\velk\\nuv\\srcredir.tag";
const char kLogFile[] = "c:\\velk\\nuv\\srcredir.log";
const char k9xRoot[] = ".DEFAULT\\Software\\Microsoft\\Installer\\Products";
const char kNtRoot[] = "Software\\Classes\\Installer\\Products";
const char kNetKey[] = "\\SourceList\\Net";
const char kMediaKey[] = "\\SourceList\\Media";
const DWORD kNameCharacters = 100;
const DWORD kDataBytes = 256;

const char kStarted[] = "SRCREDIR: Started -=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-\r\n";
const char kNoTag[] = "SRCREDIR: Failed to locate srcredir.tag.  Redirection not performed.";
const char k9xDetected[] = "SRCREDIR: Win9x OS detected...";
const char kNtDetected[] = "SRCREDIR: WinNT OS detected...";
const char kOpenKey[] = "SRCREDIR: OpenKey() called for ";
const char kOpenKeyFailed[] = "SRCREDIR: OpenKey() error opening ";
const char kRootFailed[] = "SRCREDIR: Failed opening Installer root registry key.";
const char kSearching[] = "SRCREDIR: Searching registry for ";
const char kEnumerating[] = "SRCREDIR: Enumerating Net keys searching for ";
const char kFound[] = "SRCREDIR: Found ";
const char kDeleting[] = " in Net key... Deleting...";
const char kRedirecting[] = "SRCREDIR: Attempting to redirect LastUsedSource to \\Media entry for ";
const char kSkipped[] = "SRCREDIR: Package folder '%s' is empty or a drive root.  Redirection not performed.";
const char kNotFullPath[] =
    "SRCREDIR: Package folder '%s' is no full path (X:\\... or \\\\server\\share\\...).  Redirection not performed.";

std::string FormatRecord(const std::string& text)
{
    return FormatLogLine(GetLocalTimeValues(), text);
}

} // namespace

void WriteSrcRedirLog(const std::string& text)
{
    CLogFile(kLogFile, FormatRecord).Write(text);
}

HKEY OpenInstallerKey(HKEY parent, const std::string& path, BOOL readOnly)
{
    WriteSrcRedirLog(kOpenKey + path);
    HKEY key = nullptr;
    const REGSAM access = (readOnly ? KEY_READ : KEY_READ | KEY_WRITE) | kRegistryView;
    if (RegOpenKeyExA(parent, path.c_str(), 0, access, &key) != ERROR_SUCCESS) {
        WriteSrcRedirLog(kOpenKeyFailed + path);
        return nullptr;
    }
    return key;
}

BOOL DeleteNetSource(HKEY netKey, const std::string& folder)
{
    WriteSrcRedirLog(kEnumerating + folder);
    for (DWORD index = 0;; ++index) {
        char name[kNameCharacters];
        DWORD nameSize = kNameCharacters;
        BYTE data[kDataBytes];
        DWORD dataSize = kDataBytes;
        DWORD type = 0;
        const LONG result = RegEnumValueA(netKey, index, name, &nameSize, nullptr, &type, data, &dataSize);
        // A value whose name or data does not fit is passed over: what the buffers then
        // hold is no value. Any other answer ends the walk, so that a key that keeps
        // failing cannot hold up the installation.
        if (result == ERROR_MORE_DATA)
            continue;
        if (result != ERROR_SUCCESS)
            return FALSE;
        if (type != REG_SZ && type != REG_EXPAND_SZ)
            continue;
        std::string text(reinterpret_cast<const char*>(data), dataSize < kDataBytes ? dataSize : kDataBytes);
        text = text.substr(0, text.find('\0'));
        if (!IsPackageFolderSource(text, folder))
            continue;
        WriteSrcRedirLog(kFound + folder + kDeleting);
        return RegDeleteValueA(netKey, std::string(name, nameSize < kNameCharacters ? nameSize : 0).c_str()) ==
                       ERROR_SUCCESS
                   ? TRUE
                   : FALSE;
    }
}

BOOL RedirectLastUsedSource(HKEY, HKEY, const std::string& product)
{
    WriteSrcRedirLog(kRedirecting + product);
    return TRUE;
}

BOOL RedirectSourceList(const std::string& installCommand)
{
    WriteSrcRedirLog(kStarted);
    if (!IsExistingFile(kTagFile)) {
        WriteSrcRedirLog(kNoTag);
        return TRUE;
    }
    const bool family9x = GetRunningOSFamily() == OSFamily9x;
    WriteSrcRedirLog(family9x ? k9xDetected : kNtDetected);
    HKEY root = OpenInstallerKey(family9x ? HKEY_USERS : HKEY_LOCAL_MACHINE, family9x ? k9xRoot : kNtRoot, FALSE);
    if (!root) {
        WriteSrcRedirLog(kRootFailed);
        return FALSE;
    }
    std::string folder = installCommand;
    ExtractPackageDirectory(folder);
    // "C:\\" and "C:\APPS\..\" are a drive's root all the same.
    folder = NormalizePackageFolder(folder);
    // Only a full path names one package's folder: a part of one would be found in other
    // products' sources, and a drive's root is no package's own folder.
    if (!IsRedirectableFolder(folder)) {
        WriteSrcRedirLog(FormatMessageText(IsFullFolder(folder) ? kSkipped : kNotFullPath, folder));
        RegCloseKey(root);
        return TRUE;
    }
    for (DWORD index = 0;; ++index) {
        char name[kNameCharacters];
        DWORD nameSize = kNameCharacters;
        const LONG result = RegEnumKeyExA(root, index, name, &nameSize, nullptr, nullptr, nullptr, nullptr);
        // A product name that does not fit would open another key; any other failure
        // ends the walk rather than repeat it for ever.
        if (result == ERROR_MORE_DATA)
            continue;
        if (result != ERROR_SUCCESS)
            break;
        const std::string product(name, nameSize < kNameCharacters ? nameSize : 0);
        const std::string netPath = JoinKeyPath(product, kNetKey);
        WriteSrcRedirLog(kSearching + netPath);
        HKEY net = OpenInstallerKey(root, netPath, FALSE);
        if (!net)
            continue;
        if (DeleteNetSource(net, folder)) {
            if (HKEY media = OpenInstallerKey(root, JoinKeyPath(product, kMediaKey), FALSE)) {
                RedirectLastUsedSource(media, root, product);
                RegCloseKey(media);
            }
        }
        RegCloseKey(net);
    }
    RegCloseKey(root);
    return TRUE;
}

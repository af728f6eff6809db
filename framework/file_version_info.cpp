#include "file_version_info.h"

#include "version_block.h"

#include <windows.h>

#include <vector>

namespace {

// Only a program file (its header begins "MZ") can carry a version resource. Asking the
// system about any other file costs it several opens and mappings; two bytes tell.
bool CannotHoldVersion(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;  // the system's own reading decides
    char header[2] = {0, 0};
    DWORD got = 0;
    const BOOL read = ReadFile(file, header, sizeof header, &got, nullptr);
    CloseHandle(file);
    return read && !(got == sizeof header && header[0] == 'M' && header[1] == 'Z');
}

// A program file's version resource, read in one load of the file (the system's own
// reading loads it twice: once for the size, once for the block). loaded: whether the
// file could be loaded as a 32-bit program at all.
bool ReadVersionResource(const std::string& path, unsigned short parts[4], bool& loaded)
{
    loaded = false;
    HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module)
        return false;
    loaded = true;
    bool read = false;
    HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(VS_VERSION_INFO), MAKEINTRESOURCEA(16));
    HGLOBAL handle = resource ? LoadResource(module, resource) : nullptr;
    const void* bytes = handle ? LockResource(handle) : nullptr;
    if (bytes)
        read = ReadFixedVersionFromBlock(std::string(static_cast<const char*>(bytes), SizeofResource(module, resource)),
                                         parts);
    FreeLibrary(module);
    return read;
}

} // namespace

bool ReadFixedFileVersion(const std::string& path, unsigned short parts[4])
{
    if (CannotHoldVersion(path))
        return false;
    bool loaded = false;
    const bool read = ReadVersionResource(path, parts, loaded);
    if (loaded)
        return read;
    // Not a 32-bit program (a 16-bit one, say): the system reads what it can.
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
    if (size == 0)
        return false;
    std::vector<char> information(size);
    if (!GetFileVersionInfoA(path.c_str(), 0, size, information.data()))
        return false;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    // No fixed block, or one cut short, is no version.
    if (!VerQueryValueA(information.data(), "\\", reinterpret_cast<void**>(&fixed), &length) || !fixed ||
        length < sizeof(VS_FIXEDFILEINFO))
        return false;
    parts[0] = HIWORD(fixed->dwFileVersionMS);
    parts[1] = LOWORD(fixed->dwFileVersionMS);
    parts[2] = HIWORD(fixed->dwFileVersionLS);
    parts[3] = LOWORD(fixed->dwFileVersionLS);
    return true;
}

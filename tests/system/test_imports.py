"""Every shipped binary of both builds imports only reviewed functions of system DLLs.

Wine exports everything, also when it plays Windows 98, so running under Wine never
shows an import the target lacks: only this check does. Adding a line to an allowlist
is a review step: check that the build's oldest target has the function before adding
it (Windows 95/NT4 for the 32-bit build, XP x64 / Server 2003 x64 for the 64-bit one)."""

import collections
import os
import re
import subprocess

import pytest

from conftest import BUILDS as BUILD_DIRS, REPO

pytestmark = pytest.mark.native


Build = collections.namedtuple("Build", "folder objdump allowlist")
BUILDS = {
    "win32": Build(BUILD_DIRS["win32"], "i686-w64-mingw32-objdump", "imports.allow"),
    "win64": Build(BUILD_DIRS["win64"], "x86_64-w64-mingw32-objdump", "imports64.allow"),
}
RUNTIME_DLLS = re.compile(r"^(libgcc|libstdc\+\+|libwinpthread|.*mingw)", re.I)


def shipped_binaries(arch):
    listing = os.path.join(BUILDS[arch].folder, "shipped.txt")
    if not os.path.exists(listing):
        return []
    with open(listing) as f:
        return [line.strip() for line in f if line.strip()]


def each_shipped(suffix=""):
    """pytest parameters: (arch, path) of every shipped binary of both builds."""
    return [pytest.param(arch, path, id=arch + "-" + os.path.basename(path))
            for arch in BUILDS for path in shipped_binaries(arch) if path.lower().endswith(suffix)]


def objdump(arch, path):
    return subprocess.run([BUILDS[arch].objdump, "-p", path], check=True,
                          stdout=subprocess.PIPE, stdin=subprocess.DEVNULL, text=True).stdout


def read_imports(arch, path):
    """{"DLL!Function", ...} from objdump's import tables."""
    out = objdump(arch, path)
    imports = set()
    dll = None
    in_table = False
    for line in out.splitlines():
        match = re.match(r"\s*DLL Name: (\S+)", line)
        if match:
            dll = match.group(1).upper()
            in_table = False
            continue
        if dll and re.match(r"\s*vma:\s+Hint/Ord\s+Member-Name", line):
            in_table = True
            continue
        if in_table:
            entry = re.match(r"\s*[0-9a-f]+\s+(\d+)\s+(\S+)", line)
            if entry:
                imports.add(dll + "!" + entry.group(2))
            elif not line.strip():
                in_table = False
                dll = None
    return imports


def read_allowlist(arch):
    with open(os.path.join(REPO, "tests", "system", BUILDS[arch].allowlist)) as f:
        return {line.split("#")[0].strip().upper() for line in f if line.split("#")[0].strip()}


@pytest.mark.parametrize("arch", BUILDS)
def test_something_is_shipped(arch):
    names = {os.path.basename(p) for p in shipped_binaries(arch)}
    assert "NUV.exe" in names, "build it: cmake --build --preset " + arch


@pytest.mark.parametrize("arch, binary", each_shipped())
def test_imports_are_reviewed_system_functions(arch, binary):
    imports = read_imports(arch, binary)
    assert imports, "no import table read from " + binary
    runtime = sorted(i for i in imports if RUNTIME_DLLS.match(i))
    assert not runtime, "MinGW runtime DLL imported: %s" % runtime
    allowed = read_allowlist(arch)
    unreviewed = sorted(i for i in imports if i.upper() not in allowed)
    assert not unreviewed, "imports not on %s: %s" % (BUILDS[arch].allowlist, unreviewed)


# Functions that newer runtimes pull in and that the target systems lack.
KNOWN_TOO_NEW = ("KERNEL32.DLL!GETTICKCOUNT64", "KERNEL32.DLL!INITIALIZESRWLOCK",
                 "KERNEL32.DLL!INITIALIZECONDITIONVARIABLE", "KERNEL32.DLL!GETMODULEHANDLEEXW",
                 "KERNEL32.DLL!CREATEHARDLINKW", "MSVCRT.DLL!_FSTAT64", "MSVCRT.DLL!RAND_S")


@pytest.mark.parametrize("arch", BUILDS)
def test_allowlist_names_nothing_too_new(arch):
    assert not set(KNOWN_TOO_NEW) & read_allowlist(arch)


@pytest.mark.parametrize("arch", BUILDS)
def test_reader_sees_every_import_table(arch):
    # The window probe is not shipped; it imports from several DLLs, Toolhelp among them.
    probe = os.path.join(BUILDS[arch].folder, "fixtures", "window_probe.exe")
    imports = {i.upper() for i in read_imports(arch, probe)}
    assert "KERNEL32.DLL!CREATETOOLHELP32SNAPSHOT" in imports
    assert "USER32.DLL!ENUMWINDOWS" in imports
    assert any(i.startswith("COMCTL32.DLL!") or i.startswith("MSVCRT.DLL!") for i in imports)


def read_exports(arch, path):
    table = objdump(arch, path).split("[Ordinal/Name Pointer] Table", 1)
    if len(table) < 2:
        return []
    names = []
    for line in table[1].splitlines()[1:]:
        entry = re.match(r"\s*\[\s*\d+\]\s+(\S+)", line)
        if not entry:
            break
        names.append(entry.group(1))
    return names


@pytest.mark.parametrize("arch, plugin", each_shipped(".dll"))
def test_plugins_export_exactly_the_two_plain_names(arch, plugin):
    assert read_exports(arch, plugin) == ["CreateWrapperInstance", "DestroyWrapperInstance"]

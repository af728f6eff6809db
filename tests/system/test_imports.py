"""Every shipped binary imports only reviewed functions of system DLLs.

Wine exports everything, also when it plays Windows 98, so running under Wine never
shows an import the target lacks: only this check does. Adding a line to the allowlist
is a review step: check that Windows 95/NT4 have the function before adding it."""

import os
import re
import subprocess

import pytest

from conftest import BUILD, REPO

pytestmark = pytest.mark.native

ALLOWLIST = os.path.join(REPO, "tests", "system", "imports.allow")
RUNTIME_DLLS = re.compile(r"^(libgcc|libstdc\+\+|libwinpthread|.*mingw)", re.I)


def shipped_binaries():
    listing = os.path.join(BUILD, "shipped.txt")
    if not os.path.exists(listing):
        return []
    with open(listing) as f:
        return [line.strip() for line in f if line.strip()]


def read_imports(path):
    """{"DLL!Function", ...} from objdump's import tables."""
    out = subprocess.run(["i686-w64-mingw32-objdump", "-p", path], check=True,
                         stdout=subprocess.PIPE, stdin=subprocess.DEVNULL, text=True).stdout
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


def read_allowlist():
    with open(ALLOWLIST) as f:
        return {line.split("#")[0].strip().upper() for line in f if line.split("#")[0].strip()}


def test_something_is_shipped():
    names = {os.path.basename(p) for p in shipped_binaries()}
    assert "NUV.exe" in names


@pytest.mark.parametrize("binary", shipped_binaries(), ids=os.path.basename)
def test_imports_are_reviewed_system_functions(binary):
    imports = read_imports(binary)
    assert imports, "no import table read from " + binary
    runtime = sorted(i for i in imports if RUNTIME_DLLS.match(i))
    assert not runtime, "MinGW runtime DLL imported: %s" % runtime
    unreviewed = sorted(i for i in imports if i.upper() not in read_allowlist())
    assert not unreviewed, "imports not on the allowlist: %s" % unreviewed


# Functions that newer runtimes pull in and that the target systems lack.
KNOWN_TOO_NEW = ("KERNEL32.DLL!GETTICKCOUNT64", "KERNEL32.DLL!INITIALIZESRWLOCK",
                 "KERNEL32.DLL!INITIALIZECONDITIONVARIABLE", "KERNEL32.DLL!GETMODULEHANDLEEXW",
                 "KERNEL32.DLL!CREATEHARDLINKW", "MSVCRT.DLL!_FSTAT64", "MSVCRT.DLL!RAND_S")


def test_allowlist_names_nothing_too_new():
    assert not set(KNOWN_TOO_NEW) & read_allowlist()


def test_reader_sees_every_import_table():
    # The window probe is not shipped; it imports from several DLLs, Toolhelp among them.
    imports = {i.upper() for i in read_imports(os.path.join(BUILD, "fixtures", "window_probe.exe"))}
    assert "KERNEL32.DLL!CREATETOOLHELP32SNAPSHOT" in imports
    assert "USER32.DLL!ENUMWINDOWS" in imports
    assert any(i.startswith("COMCTL32.DLL!") or i.startswith("MSVCRT.DLL!") for i in imports)


def read_exports(path):
    out = subprocess.run(["i686-w64-mingw32-objdump", "-p", path], check=True,
                         stdout=subprocess.PIPE, stdin=subprocess.DEVNULL, text=True).stdout
    table = out.split("[Ordinal/Name Pointer] Table", 1)
    if len(table) < 2:
        return []
    names = []
    for line in table[1].splitlines()[1:]:
        entry = re.match(r"\s*\[\s*\d+\]\s+(\S+)", line)
        if not entry:
            break
        names.append(entry.group(1))
    return names


@pytest.mark.parametrize("plugin", [p for p in shipped_binaries() if p.lower().endswith(".dll")],
                         ids=os.path.basename)
def test_plugins_export_exactly_the_two_plain_names(plugin):
    assert read_exports(plugin) == ["CreateWrapperInstance", "DestroyWrapperInstance"]

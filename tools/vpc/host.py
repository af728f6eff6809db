"""What this machine can run: the Windows architectures of its virtual PCs.

Some hosts run 64-bit programs only; their kernel refuses every 32-bit program, Wine's
32-bit loader included, with "Exec format error". Wine's 64-bit loader still runs there,
so a 64-bit PC works on every host, and a 32-bit one only where 32-bit programs start.
"""

import os
import subprocess

ARCHS = ("win32", "win64")
# The 64-bit PC is always started through Wine's 64-bit loader itself: Debian's `wine`
# wrapper takes the 32-bit loader whenever that file is executable, even where it
# cannot start, and the 32-bit loader would run Wine's own programs in the 32-bit view.
WINE64_LOADER = "/usr/lib/wine/wine64"
LOADER_32BIT = "/lib/ld-linux.so.2"
# VELK_ARCHS=win64 makes any host behave as one that runs 64-bit programs only.
ARCHS_SWITCH = "VELK_ARCHS"


class VpcError(RuntimeError):
    pass


def check_arch(arch):
    if arch not in ARCHS:
        raise VpcError("arch must be one of " + ", ".join(ARCHS))


def wine_command(arch):
    """The command that starts a program in a PC of this architecture."""
    check_arch(arch)
    return [WINE64_LOADER] if arch == "win64" else ["wine"]


def wine_environment(arch):
    """Variables the loader of this architecture needs beside WINEPREFIX."""
    check_arch(arch)
    return {"WINEARCH": arch, "WINELOADER": WINE64_LOADER} if arch == "win64" else {"WINEARCH": arch}


def can_run_32bit_programs():
    """(True, "") when this machine can run Wine's 32-bit programs, else (False, why)."""
    if not os.path.exists(LOADER_32BIT):
        return False, LOADER_32BIT + " is missing (32-bit Wine is not installed: run scripts/setup)"
    try:
        probe = subprocess.run([LOADER_32BIT, "--version"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL, timeout=30)
    except OSError as error:
        return False, "this machine cannot run 32-bit programs (%s)" % error.strerror
    if probe.returncode != 0:
        return False, "this machine cannot run 32-bit programs (%s exited with %d)" % (LOADER_32BIT, probe.returncode)
    return True, ""


def can_run_64bit_programs():
    if not os.access(WINE64_LOADER, os.X_OK):
        return False, WINE64_LOADER + " is missing (64-bit Wine is not installed: run scripts/setup)"
    return True, ""


def selected_archs():
    """The architectures asked for: all of them, or those VELK_ARCHS names."""
    text = os.environ.get(ARCHS_SWITCH, "").strip()
    if not text:
        return ARCHS
    chosen = tuple(a.strip() for a in text.split(",") if a.strip())
    for arch in chosen:
        check_arch(arch)
    return chosen


def can_run(arch):
    """(True, "") when PCs of this architecture run here and are asked for, else (False, why)."""
    check_arch(arch)
    if arch not in selected_archs():
        return False, "%s=%s leaves out %s" % (ARCHS_SWITCH, os.environ.get(ARCHS_SWITCH), arch)
    return can_run_32bit_programs() if arch == "win32" else can_run_64bit_programs()


def runnable_archs():
    return tuple(a for a in ARCHS if can_run(a)[0])

"""A crash's address reads back to its function and line with the split-off symbols, as
docs/release.md tells: the module offset Wine (or Windows) reports, plus the image base,
given to addr2line with the debug file beside the stripped binary."""

import os
import re
import shutil
import struct
import subprocess

from conftest import built, install_fixture

TRIPLETS = {"win32": "i686-w64-mingw32", "win64": "x86_64-w64-mingw32"}
SOURCE = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "fixtures", "crash_probe.cpp")


def image_base(path):
    with open(path, "rb") as f:
        data = f.read()
    (header,) = struct.unpack_from("<I", data, 0x3C)
    (magic,) = struct.unpack_from("<H", data, header + 24)
    return struct.unpack_from("<Q", data, header + 48)[0] if magic == 0x20B else \
        struct.unpack_from("<I", data, header + 52)[0]


def resolve(triplet, binary, address):
    found = subprocess.run([triplet + "-addr2line", "-f", "-i", "-e", binary, "0x%x" % address],
                           capture_output=True, text=True, check=True).stdout
    return subprocess.run([triplet + "-c++filt", "-n"], input=found, capture_output=True, text=True,
                          check=True).stdout.splitlines()


def test_a_crash_reads_back_to_its_function_and_line_only_with_the_symbols(make_pc, arch, tmp_path):
    pc = make_pc()
    # The crash ends the program with Wine's trace, not a dialog waiting for a person.
    pc.set_reg(r"HKCU\Software\Wine\WineDbg", "ShowCrashDialog", 0)
    result = pc.run(install_fixture(pc, "crash_probe.exe"))
    assert result.code != 0
    frame = re.search(r"=>0 0x[0-9a-f]+ in crash_probe \(\+0x([0-9a-f]+)\)", result.stdout + result.stderr)
    assert frame, result
    with open(SOURCE) as f:
        line = next(n for n, text in enumerate(f, 1) if "// the crash" in text)
    # What a person has: the shipped binary alone, then the symbols ZIP's file beside it.
    binary = str(tmp_path / "crash_probe.exe")
    shutil.copyfile(built(os.path.join("fixtures", "crash_probe.exe"), arch), binary)
    address = image_base(binary) + int(frame.group(1), 16)
    assert resolve(TRIPLETS[arch], binary, address) == ["??", "??:0"]
    shutil.copyfile(built(os.path.join("fixtures", "crash_probe.exe.debug"), arch), binary + ".debug")
    assert resolve(TRIPLETS[arch], binary, address) == [
        "WriteThroughNull(int)", "/velk/tests/fixtures/crash_probe.cpp:%d" % line]

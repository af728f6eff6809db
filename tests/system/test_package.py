"""The ZIPs for the factory, one per build: the folder layout a machine needs, the
samples and the engineers' text, and binaries of the build's architecture that name the
product and its version; stripped, their symbols in a ZIP beside, and every file and ZIP
listed with its SHA-256."""

import glob
import hashlib
import os
import re
import struct
import subprocess
import sys
import zipfile
import zlib

import pytest

from conftest import BUILDS as BUILD_DIRS, REPO

sys.path.insert(0, os.path.join(REPO, "tools"))

from release import archive  # noqa: E402

pytestmark = pytest.mark.native

ENGINE_FOLDER = ["NUV.exe", "Quillan.dll", "Sorvane.dll", "Brakkis.dll", "Brakkel.dll", "Ostrel.dll"]
UTILITIES = ["Hobrint.exe", "Jaskel.exe", "Fendrix.exe", "Morlane.exe", "Vindle.exe", "Tevrost.exe", "Pomrel.exe"]
EXTRAS = {"README.TXT": "package/README.TXT", "Samples/RUN.NUV": "package/RUN.NUV", "Samples/nuv.txt": "package/nuv.txt"}
EXTRAS.update(("Docs/" + name, "docs/" + name) for name in (
    "run-list.md", "markers.md", "messages.md", "wrappers.md", "development-mode.md", "development-mode.png",
    "drive-fixup.md", "copy-newer-and-late-bind.md", "timing-utilities.md", "64-bit-windows.md",
    "progress-window.png", "version-box.png", "tevrost.png", "pomrel.png"))
FIXED_INFO = b"\xbd\x04\xef\xfe"

# Each ZIP's build folder, and the PE machine and optional-header magic of its binaries.
BUILDS = {"win32": (BUILD_DIRS["win32"], 0x014C, 0x10B), "win64": (BUILD_DIRS["win64"], 0x8664, 0x20B)}


def project_version():
    with open(os.path.join(REPO, "CMakeLists.txt")) as f:
        return re.search(r"project\(Velk VERSION (\d+)\.(\d+)\.(\d+)", f.read()).group(0).split()[-1]


def version_string(data, key):
    """A value of the version resource's string table (UTF-16), or None."""
    at = data.find((key + "\0").encode("utf-16-le"))
    if at < 0:
        return None
    at += len(key) * 2 + 2
    while data[at:at + 2] == b"\0\0":  # padding to the value's 32-bit boundary
        at += 2
    end = at
    while data[end:end + 2] != b"\0\0":
        end += 2
    return data[at:end].decode("utf-16-le")


def pe_machine_and_magic(data):
    """The COFF machine and the optional header's magic (PE32 or PE32+) of a PE image."""
    (header,) = struct.unpack_from("<I", data, 0x3C)
    assert data[header:header + 4] == b"PE\0\0"
    (machine,) = struct.unpack_from("<H", data, header + 4)
    (magic,) = struct.unpack_from("<H", data, header + 24)
    return machine, magic


@pytest.mark.parametrize("arch", BUILDS)
def test_zip_holds_the_machine_layout_and_named_versions(arch):
    folder, machine, magic = BUILDS[arch]
    archives = glob.glob(os.path.join(folder, "Velk-NUV-*-%s.zip" % arch))
    assert len(archives) == 1, "build the package: cmake --build --preset %s --target package" % arch
    version = project_version()
    assert os.path.basename(archives[0]) == "Velk-NUV-%s-%s.zip" % (version, arch)
    with zipfile.ZipFile(archives[0]) as package:
        files = sorted(n for n in package.namelist() if not n.endswith("/"))
        expected = sorted(["Velk/NUV/" + n for n in ENGINE_FOLDER] + ["Velk/" + n for n in UTILITIES] + list(EXTRAS)
                          + [archive.SUMS])
        assert files == expected
        # The engineers' text names everything the archive holds.
        readme = package.read("README.TXT").decode("latin-1")
        for name in files:
            assert name == "README.TXT" or os.path.basename(name) in readme, name
        for name, source in EXTRAS.items():
            with open(os.path.join(REPO, source), "rb") as f:
                assert package.read(name) == f.read(), name
        major, minor, patch = (int(p) for p in version.split("."))
        for name in files:
            if not name.startswith("Velk/"):
                continue
            data = package.read(name)
            assert data[:2] == b"MZ", name
            assert pe_machine_and_magic(data) == (machine, magic), name
            assert version_string(data, "ProductName") == "Velk NUV", name
            assert version_string(data, "ProductVersion") == version, name
            assert version_string(data, "OriginalFilename") == os.path.basename(name), name
            fixed = data.find(FIXED_INFO)
            assert fixed >= 0, name
            file_ms, file_ls = struct.unpack_from("<II", data, fixed + 8)
            assert (file_ms >> 16, file_ms & 0xFFFF, file_ls >> 16) == (major, minor, patch), name


def pe_sections(data):
    """{name: bytes} of a PE image's sections; a long name ("/4") is read from the COFF
    string table, as objcopy writes it for .gnu_debuglink and .debug_info."""
    (header,) = struct.unpack_from("<I", data, 0x3C)
    count, = struct.unpack_from("<H", data, header + 6)
    symbols, symbol_count, optional_size = struct.unpack_from("<IIH", data, header + 12)
    strings = symbols + symbol_count * 18
    sections = {}
    for i in range(count):
        entry = header + 24 + optional_size + 40 * i
        name = data[entry:entry + 8].rstrip(b"\0").decode()
        if name.startswith("/"):
            at = strings + int(name[1:])
            name = data[at:data.index(b"\0", at)].decode()
        size, offset = struct.unpack_from("<II", data, entry + 16)
        sections[name] = data[offset:offset + size]
    return sections


def archives(arch):
    folder = BUILDS[arch][0]
    name = "Velk-NUV-%s-%s" % (project_version(), arch)
    paths = [os.path.join(folder, name + suffix + ".zip") for suffix in ("", "-symbols")]
    for path in paths:
        assert os.path.isfile(path), "build the package: cmake --build --preset %s --target package" % arch
    return paths


@pytest.mark.parametrize("arch", BUILDS)
def test_binaries_ship_without_debug_sections_and_their_symbols_are_linked(arch):
    shipped, symbols = archives(arch)
    with zipfile.ZipFile(shipped) as z, zipfile.ZipFile(symbols) as s:
        binaries = [n for n in z.namelist() if n.startswith("Velk/")]
        assert sorted(s.namelist()) == sorted([n + ".debug" for n in binaries] + [archive.SUMS])
        for name in binaries:
            data = z.read(name)
            sections = pe_sections(data)
            assert not [n for n in sections if n.startswith(".debug")], name
            (header,) = struct.unpack_from("<I", data, 0x3C)
            assert struct.unpack_from("<I", data, header + 16) == (0,), name + ": COFF symbols left in"
            # The link: the debug file's name, padded to 4 bytes, then its CRC-32.
            link = sections[".gnu_debuglink"]
            file_name = link[:link.index(b"\0")].decode()
            assert file_name == os.path.basename(name) + ".debug", name
            (crc,) = struct.unpack_from("<I", link, (len(file_name) + 4) // 4 * 4)
            debug = s.read(name + ".debug")
            assert zlib.crc32(debug) == crc, name
            assert {".debug_info", ".debug_line"} <= set(pe_sections(debug)), name


@pytest.mark.parametrize("arch", BUILDS)
def test_every_file_and_zip_has_its_sha256_and_the_commits_time(arch, tmp_path):
    paths = archives(arch)
    seconds, _ = archive.source_time(REPO)
    for path in paths:
        with zipfile.ZipFile(path) as z:
            members = {n: z.read(n) for n in z.namelist()}
            assert {i.date_time for i in z.infolist()} == {archive.zip_time(seconds)}, path
        sums = archive.parse_sums(members.pop(archive.SUMS).decode())
        assert sums == {n: hashlib.sha256(d).hexdigest() for n, d in members.items()}, path
    with open(os.path.join(BUILDS[arch][0], archive.SUMS)) as f:
        sums = archive.parse_sums(f.read())
    expected = {}
    for path in paths:
        with open(path, "rb") as f:
            expected[os.path.basename(path)] = hashlib.sha256(f.read()).hexdigest()
    assert sums == expected
    # A machine's copy checked as README.TXT says: whole, then with a utility gone.
    with zipfile.ZipFile(paths[0]) as z:
        z.extractall(tmp_path)
    check = "grep '  Velk/' SHA256SUMS | sha256sum -c"
    assert subprocess.run(check, shell=True, cwd=tmp_path, capture_output=True).returncode == 0
    # And the listing of what the ZIP does not have, as docs/release.md gives it.
    extra = ("LC_ALL=C find Velk Velk/NUV -maxdepth 1 -type f | LC_ALL=C sort -u > here.txt; grep '  Velk/' "
             "SHA256SUMS | cut -c 67- | LC_ALL=C sort | LC_ALL=C comm -13 - here.txt")
    assert subprocess.run(extra, shell=True, cwd=tmp_path, capture_output=True, text=True).stdout == ""
    (tmp_path / "Velk" / "NUV" / "version.dll").write_bytes(b"MZ")
    os.remove(tmp_path / "Velk" / "Pomrel.exe")
    done = subprocess.run(check, shell=True, cwd=tmp_path, capture_output=True, text=True)
    assert done.returncode != 0 and "Velk/Pomrel.exe: FAILED open or read" in done.stdout
    assert subprocess.run(extra, shell=True, cwd=tmp_path, capture_output=True, text=True).stdout == \
        "Velk/NUV/version.dll\n"

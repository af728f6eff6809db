"""The ZIPs for the factory, one per build: the folder layout a machine needs, the
samples and the engineers' text, and binaries of the build's architecture that name the
product and its version."""

import glob
import os
import re
import struct
import zipfile

import pytest

from conftest import BUILDS as BUILD_DIRS, REPO

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
    with zipfile.ZipFile(archives[0]) as archive:
        files = sorted(n for n in archive.namelist() if not n.endswith("/"))
        expected = sorted(["Velk/NUV/" + n for n in ENGINE_FOLDER] + ["Velk/" + n for n in UTILITIES] + list(EXTRAS))
        assert files == expected
        # The engineers' text names everything the archive holds.
        readme = archive.read("README.TXT").decode("latin-1")
        for name in files:
            assert name == "README.TXT" or os.path.basename(name) in readme, name
        for name, source in EXTRAS.items():
            with open(os.path.join(REPO, source), "rb") as f:
                assert archive.read(name) == f.read(), name
        major, minor, patch = (int(p) for p in version.split("."))
        for name in files:
            if not name.startswith("Velk/"):
                continue
            data = archive.read(name)
            assert data[:2] == b"MZ", name
            assert pe_machine_and_magic(data) == (machine, magic), name
            assert version_string(data, "ProductName") == "Velk NUV", name
            assert version_string(data, "ProductVersion") == version, name
            assert version_string(data, "OriginalFilename") == os.path.basename(name), name
            fixed = data.find(FIXED_INFO)
            assert fixed >= 0, name
            file_ms, file_ls = struct.unpack_from("<II", data, fixed + 8)
            assert (file_ms >> 16, file_ms & 0xFFFF, file_ls >> 16) == (major, minor, patch), name

"""The release tool on its own, without a build: the ZIPs come from what is installed
now and from nothing else (file times, time zone, an earlier run's leftovers), and it
never removes or writes over what is not its own."""

import hashlib
import os
import subprocess
import sys
import zipfile

import pytest

from conftest import REPO

sys.path.insert(0, os.path.join(REPO, "tools"))

from release import archive, cli  # noqa: E402

pytestmark = pytest.mark.native

# Stands in for `cmake --install BUILD --prefix P --component C`: two files or one.
FAKE_CMAKE = """#!/usr/bin/python3
import os, sys
args = dict(zip(sys.argv[1::2], sys.argv[2::2]))
files = {"Unspecified": {"Velk/NUV/NUV.exe": b"MZ engine", "README.TXT": b"read me"},
         "symbols": {"Velk/NUV/NUV.exe.debug": b"symbols"}}[args["--component"]]
for name, data in files.items():
    path = os.path.join(args["--prefix"], name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
"""


@pytest.fixture
def build(tmp_path):
    folder = tmp_path / "build"
    folder.mkdir()
    (folder / "CMakeCache.txt").write_text("")
    cmake = tmp_path / "cmake"
    cmake.write_text(FAKE_CMAKE)
    cmake.chmod(0o755)
    return folder, str(cmake)


def package(folder, cmake):
    cli.package(str(folder), str(folder), cmake, "Velk-NUV-9.9.9-win32")
    return {name: (folder / name).read_bytes() for name in
            ("Velk-NUV-9.9.9-win32.zip", "Velk-NUV-9.9.9-win32-symbols.zip", archive.SUMS)}


def test_the_zips_hold_what_is_installed_now_and_nothing_of_the_clock(build, monkeypatch):
    folder, cmake = build
    monkeypatch.setenv("SOURCE_DATE_EPOCH", "1796887155")
    # An earlier run's staging holds a file no longer installed: it must not ship.
    stale = folder / "release-staging" / "Unspecified" / "Velk" / "Old.exe"
    stale.parent.mkdir(parents=True)
    stale.write_bytes(b"MZ old")
    first = package(folder, cmake)
    with zipfile.ZipFile(folder / "Velk-NUV-9.9.9-win32.zip") as z:
        assert z.namelist() == ["README.TXT", archive.SUMS, "Velk/NUV/NUV.exe"]
        assert {i.date_time for i in z.infolist()} == {(2026, 12, 10, 7, 19, 14)}
    with zipfile.ZipFile(folder / "Velk-NUV-9.9.9-win32-symbols.zip") as z:
        assert z.namelist() == [archive.SUMS, "Velk/NUV/NUV.exe.debug"]
    # Again, in another time zone and umask, the files now of another age: the same bytes.
    monkeypatch.setenv("TZ", "Pacific/Kiritimati")
    old = os.umask(0o077)
    try:
        assert package(folder, cmake) == first
    finally:
        os.umask(old)


def test_what_is_not_its_own_is_refused_and_kept(build, tmp_path):
    folder, cmake = build
    mine = tmp_path / "mine"
    mine.mkdir()
    (mine / "keep.txt").write_text("a person's file")
    (folder / "release-staging").symlink_to(mine)
    with pytest.raises(SystemExit, match="not the folder this step stages in"):
        package(folder, cmake)
    assert (mine / "keep.txt").read_text() == "a person's file"
    with pytest.raises(SystemExit, match="not a build folder"):
        package(mine, cmake)
    # The release folder: a file the release does not write is never written over.
    with pytest.raises(SystemExit, match="keep.txt, which this release does not write"):
        cli.release(str(mine))
    assert os.listdir(mine) == ["keep.txt"]


def test_the_release_is_both_architectures_with_one_sums_file(tmp_path, monkeypatch, capsys):
    git_checkout(tmp_path / "project", 1796887155)
    monkeypatch.setattr(cli, "REPO", str(tmp_path / "project"))
    built = []

    def fake_build(arch, folder):
        built.append(folder)
        os.makedirs(folder)
        for suffix in ("", "-symbols"):
            with open(os.path.join(folder, "Velk-NUV-9.9.9-%s%s.zip" % (arch, suffix)), "wb") as f:
                f.write(b"PK " + (arch + suffix).encode())

    out = tmp_path / "release"
    # Changed files, or a tree git cannot read, are not the commit: refused unless asked.
    (tmp_path / "project" / "CMakeLists.txt").write_text("project(Velk VERSION 9.9.9) # changed\n")
    with pytest.raises(SystemExit, match="uncommitted changes"):
        cli.release(str(out), build=fake_build)
    monkeypatch.setattr(cli, "uncommitted", lambda: None)
    with pytest.raises(SystemExit, match="git cannot tell"):
        cli.release(str(out), build=fake_build)
    assert built == []
    cli.release(str(out), allow_uncommitted=True, build=fake_build)
    names = ["Velk-NUV-9.9.9-%s%s.zip" % (a, s) for a in ("win32", "win64") for s in ("", "-symbols")]
    assert sorted(os.listdir(out)) == sorted(names + [archive.SUMS])
    sums = archive.parse_sums((out / archive.SUMS).read_text())
    assert sums == {n: hashlib.sha256((out / n).read_bytes()).hexdigest() for n in names}
    # Each architecture in a fresh folder of its own, removed once the release is written.
    assert len(set(built)) == 2 and not any(os.path.exists(os.path.dirname(f)) for f in built)
    assert "%s/%s:" % (out, archive.SUMS) in capsys.readouterr().out


def git_checkout(folder, seconds):
    """A checkout of one commit made at seconds, with a sub-folder; the person's own git
    settings (signing, hooks) left out."""
    (folder / "sub").mkdir(parents=True)
    for name in ("CMakeLists.txt", "sub/CMakeLists.txt"):
        (folder / name).write_text("project(Velk VERSION 9.9.9)\n")
    env = dict(os.environ, GIT_AUTHOR_DATE="@%d +0000" % seconds, GIT_COMMITTER_DATE="@%d +1400" % seconds,
               GIT_AUTHOR_NAME="t", GIT_AUTHOR_EMAIL="t@t", GIT_COMMITTER_NAME="t", GIT_COMMITTER_EMAIL="t@t",
               GIT_CONFIG_GLOBAL=os.devnull, GIT_CONFIG_NOSYSTEM="1")
    for command in (["init", "-q"], ["add", "."], ["commit", "-q", "-m", "one"]):
        subprocess.run(["git", "-C", str(folder)] + command, env=env, check=True, capture_output=True)


def test_the_files_are_dated_from_the_commit_or_the_build_says_why_not(tmp_path, monkeypatch):
    monkeypatch.delenv("SOURCE_DATE_EPOCH", raising=False)
    git_checkout(tmp_path / "checkout", 1796887155)
    seconds, origin = archive.source_time(str(tmp_path / "checkout"))
    assert seconds == 1796887155 and origin.startswith("commit ")
    # A copy without history, or a folder inside another checkout, has no commit of its own.
    (tmp_path / "copy").mkdir()
    for source in (tmp_path / "copy", tmp_path / "checkout" / "sub"):
        with pytest.raises(ValueError, match="not a git checkout of its own"):
            archive.source_time(str(source))
    monkeypatch.setenv("SOURCE_DATE_EPOCH", "12x")
    with pytest.raises(ValueError, match="whole seconds"):
        archive.source_time(str(tmp_path / "checkout"))


@pytest.mark.parametrize("second", ["same", "differs", "partial"])
def test_two_builds_are_compared_file_by_file(second, tmp_path, monkeypatch, capsys):
    git_checkout(tmp_path / "project", 1796887155)
    monkeypatch.setattr(cli, "REPO", str(tmp_path / "project"))
    (tmp_path / "tmp").mkdir()
    monkeypatch.setattr(cli.tempfile, "tempdir", str(tmp_path / "tmp"))
    made = []

    def fake_release(source, out, zone, umask):
        assert os.path.isfile(os.path.join(source, "sub", "CMakeLists.txt"))  # a clone of the commit
        made.append(source)
        os.makedirs(out)
        data = b"PK second" if second == "differs" and len(made) == 2 else b"PK same"
        members = {"Velk-NUV-9.9.9-win32.zip": data}
        if second != "partial":
            members[archive.SUMS] = archive.sums_text({"Velk-NUV-9.9.9-win32.zip": b"PK same"}).encode()
        for name, content in members.items():
            with open(os.path.join(out, name), "wb") as f:
                f.write(content)
        return True

    assert cli.check(keep=False, build=fake_release) == (0 if second == "same" else 1)
    said = capsys.readouterr().out
    assert made[0] != made[1] and os.path.dirname(made[0]) != os.path.dirname(made[1])
    assert ("DIFFERS: first difference at byte 4" in said) == (second == "differs")
    assert ("the release is not whole" in said) == (second == "partial")
    # Its own folder is removed when the two are the same, kept to look at when not.
    assert os.listdir(tmp_path / "tmp") == ([] if second == "same" else
                                    ["velk-reproducible-" + said.split("velk-reproducible-")[1][:8]])

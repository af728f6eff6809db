"""The same commit gives the same release bytes: both architectures' ZIPs are built
again from a copy of the sources in another folder, later, and compared with the suite's
own build byte for byte. (scripts/check-reproducible does the same from two fresh clones.)"""

import os
import shutil
import subprocess
import sys

import pytest

from conftest import BUILDS, REPO

sys.path.insert(0, os.path.join(REPO, "tools"))

from release import archive, cli  # noqa: E402

pytestmark = [pytest.mark.native, pytest.mark.slow]


def source_files():
    """The files git knows of, as they stand in the working tree (changes included); in a
    copy without git history, everything but the build and git's own folders."""
    listed = subprocess.run(["git", "-C", REPO, "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
                            capture_output=True)
    if listed.returncode == 0:
        return [n.decode() for n in listed.stdout.split(b"\0") if n]
    names = []
    for root, dirs, files in os.walk(REPO):
        if root == REPO:
            dirs[:] = [d for d in dirs if d not in ("build", ".git")]
        names += [os.path.relpath(os.path.join(root, f), REPO) for f in files]
    return names


def copy_sources(to):
    for name in source_files():
        source = os.path.join(REPO, name)
        if os.path.isfile(source) and not os.path.islink(source):
            os.makedirs(os.path.dirname(os.path.join(to, name)), exist_ok=True)
            shutil.copy2(source, os.path.join(to, name))


@pytest.mark.parametrize("arch", ["win32", "win64"])
def test_the_release_built_again_elsewhere_is_the_same_bytes(arch, tmp_path):
    name = "Velk-NUV-%s-%s" % (cli.version(), arch)
    ours = BUILDS[arch]
    assert os.path.isfile(os.path.join(ours, name + ".zip")), "build the package: scripts/test does"
    # Another folder, of another depth, reached through a link; the build folder outside
    # it, its name the start of the sources' folder name.
    (tmp_path / "real" / "another").mkdir(parents=True)
    (tmp_path / "link").symlink_to(tmp_path / "real")
    source = tmp_path / "link" / "another" / "velk-sources"
    copy_sources(str(source))
    build = tmp_path / "link" / "velk"
    # The copy has no git history: it is given the commit's time, as a release build would be.
    seconds, _ = archive.source_time(REPO)
    env = dict(os.environ, SOURCE_DATE_EPOCH=str(seconds), TZ="Pacific/Kiritimati")
    for command in (["cmake", "--preset", arch, "-B", str(build)],
                    ["cmake", "--build", str(build), "--target", "package"]):
        done = subprocess.run(command, cwd=source, env=env, capture_output=True, text=True)
        assert done.returncode == 0, (done.stdout + done.stderr)[-4000:]
    for file in (name + ".zip", name + "-symbols.zip", archive.SUMS):
        assert cli.differences(os.path.join(ours, file), str(build / file)) == [], file

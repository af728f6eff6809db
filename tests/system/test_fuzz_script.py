"""scripts/fuzz, the long fuzzing run, in one second per target: it starts each target from
a fresh copy of the seeds, writes only below the build folder, and prints its table."""

import hashlib
import os
import subprocess

import pytest

from conftest import REPO

SEEDS = os.path.join(REPO, "tests", "fuzz")


def digest(folder):
    total = hashlib.sha256()
    for root, dirs, names in sorted(os.walk(folder)):
        dirs.sort()
        for name in sorted(names):
            with open(os.path.join(root, name), "rb") as f:
                total.update(name.encode() + f.read())
    return total.hexdigest()


@pytest.mark.native
def test_each_target_starts_from_a_fresh_copy_of_its_seeds_and_the_seeds_stay():
    build = os.path.join(REPO, "build", "host")
    scratch = os.path.join(build, "fuzz", "corpus", "fuzz_parse_line")
    os.makedirs(scratch, exist_ok=True)
    with open(os.path.join(scratch, "left-from-an-earlier-run"), "w") as f:
        f.write("stale")
    seeds = digest(SEEDS)
    done = subprocess.run([os.path.join(REPO, "scripts", "fuzz"), "1"], cwd=REPO, capture_output=True, text=True,
                          env=dict(os.environ, VELK_FUZZ_BUILD_DIR=build), timeout=900)
    assert done.returncode == 0, done.stdout[-2000:] + done.stderr[-2000:]
    assert "fuzz_parse_line" in done.stdout and "findings" in done.stdout
    assert not os.path.exists(os.path.join(scratch, "left-from-an-earlier-run"))
    assert set(os.listdir(os.path.join(SEEDS, "corpus", "fuzz_parse_line"))) <= set(os.listdir(scratch))
    assert digest(SEEDS) == seeds

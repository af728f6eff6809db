"""Shared fixtures of the system tests: built binaries and one virtual PC per test.

Every test that uses a virtual PC runs once per architecture (its `arch` parameter):
in a 32-bit PC with the win32 build and in a 64-bit PC with the win64 build. A case that
only a 32-bit PC has (the 9x family, a 32-bit program) is marked win32_only and runs in
the 32-bit PC alone. Where this machine cannot run an architecture's PCs, or VELK_ARCHS
leaves it out, its cases are skipped with the reason.
"""

import os
import sys

import pytest

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(REPO, "tools"))

import vpc  # noqa: E402

BUILDS = {
    "win32": os.environ.get("VELK_BUILD_DIR", os.path.join(REPO, "build", "win32")),
    "win64": os.environ.get("VELK_BUILD_DIR_WIN64", os.path.join(REPO, "build", "win64")),
}
BUILD = BUILDS["win32"]
ARTEFACTS = os.environ.get("VELK_ARTEFACTS", os.path.join(REPO, "build", "artefacts"))


def pytest_configure(config):
    config.addinivalue_line("markers", "native: runs on Linux alone, without Wine")
    config.addinivalue_line("markers", "win32_only(reason): a case only a 32-bit PC has")
    config.addinivalue_line("markers", "slow: takes minutes; started first so that the others fill in beside it")


def pytest_generate_tests(metafunc):
    # A test that names its architectures itself (the checks of the two builds) keeps them.
    own = any("arch" in str(mark.args[0]) for mark in metafunc.definition.iter_markers("parametrize"))
    if "arch" in metafunc.fixturenames and not own:
        metafunc.parametrize("arch", vpc.ARCHS)


def _is_32bit_only(item):
    params = getattr(item, "callspec", None)
    params = params.params if params else {}
    return item.get_closest_marker("win32_only") is not None or params.get("family") == "9x"


def pytest_collection_modifyitems(config, items):
    """A 32-bit-only case has no 64-bit form: it is not collected for win64. Cases of an
    architecture this machine cannot run are skipped, saying why."""
    kept, dropped = [], []
    for item in items:
        params = item.callspec.params if hasattr(item, "callspec") else {}
        arch = params.get("arch")
        if arch == "win64" and _is_32bit_only(item):
            dropped.append(item)
            continue
        kept.append(item)
        if item.get_closest_marker("native") is not None:
            continue
        able, why = vpc.can_run(arch or "win32")
        if not able:
            marker = item.get_closest_marker("win32_only")
            reason = "%s case: %s" % ("32-bit" if (arch or "win32") == "win32" else "64-bit", why)
            if marker and marker.args:
                reason += " (%s)" % marker.args[0]
            item.add_marker(pytest.mark.skip(reason=reason))
    if dropped:
        config.hook.pytest_deselected(items=dropped)
    kept.sort(key=lambda item: item.get_closest_marker("slow") is None)
    items[:] = kept


def built(relative, arch="win32"):
    """Path of a binary of the architecture's build; the test fails clearly when it is missing."""
    path = os.path.join(BUILDS[arch], relative)
    if not os.path.exists(path):
        pytest.fail("not built: %s (run scripts/test, or cmake --build --preset %s)" % (path, arch))
    return path


@pytest.fixture
def make_pc(arch):
    """Factory for virtual PCs of the test's architecture; every PC made is stopped and
    removed after the test."""
    pcs = []

    def make(**options):
        options.setdefault("arch", arch)
        pc = vpc.VirtualPC(**options)
        pcs.append(pc)
        return pc

    yield make
    for pc in pcs:
        pc.close()


@pytest.fixture
def artefacts():
    os.makedirs(ARTEFACTS, exist_ok=True)
    return ARTEFACTS


def install_fixture(pc, name):
    """Copies a fixture program of the PC's architecture into C:\\fixtures; returns its Windows path."""
    win_path = "C:\\fixtures\\" + name
    pc.put_file(win_path, source=built(os.path.join("fixtures", name), pc.arch))
    return win_path

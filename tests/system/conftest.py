"""Shared fixtures of the system tests: built binaries and one virtual PC per test."""

import importlib.machinery
import importlib.util
import os
import shutil

import pytest

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = os.environ.get("VELK_BUILD_DIR", os.path.join(REPO, "build", "win32"))
ARTEFACTS = os.environ.get("VELK_ARTEFACTS", os.path.join(REPO, "build", "artefacts"))


def load_script(name):
    """A script of scripts/ (they have no .py ending) as a module."""
    loader = importlib.machinery.SourceFileLoader(name.replace("-", "_"), os.path.join(REPO, "scripts", name))
    module = importlib.util.module_from_spec(importlib.util.spec_from_loader(loader.name, loader))
    loader.exec_module(module)
    return module


vpc = load_script("vpc")


def pytest_configure(config):
    config.addinivalue_line("markers", "native: runs on Linux alone, without Wine")


def pytest_collection_modifyitems(config, items):
    """Everything but the native tests runs programs in a virtual PC: on a machine that
    cannot run Wine's 32-bit programs they are skipped, saying why."""
    able, why = vpc.can_run_32bit_programs()
    if able:
        return
    skip = pytest.mark.skip(reason="needs Wine: " + why)
    for item in items:
        if item.get_closest_marker("native") is None:
            item.add_marker(skip)


def built(relative):
    """Path of a binary of the win32 build; the test fails clearly when it is missing."""
    path = os.path.join(BUILD, relative)
    if not os.path.exists(path):
        pytest.fail("not built: %s (run scripts/test, or cmake --build --preset win32)" % path)
    return path


@pytest.fixture
def make_pc():
    """Factory for virtual PCs; every PC made is stopped and removed after the test."""
    pcs = []

    def make(**options):
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
    """Copies a fixture program into C:\\fixtures of the PC; returns its Windows path."""
    win_path = "C:\\fixtures\\" + name
    pc.put_file(win_path, source=built(os.path.join("fixtures", name)))
    return win_path

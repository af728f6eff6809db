"""A virtual PC prepared as the factory prepares one: engine, run list, Run values."""

import json
import os
import time

import pytest

from conftest import BUILD, built, install_fixture, vpc

ENGINE = r"C:\Velk\NUV\NUV.exe"
RUN_LIST = r"C:\VELK\RUN.NUV"
LOG = r"c:\velk\nuv.log"
ERR = r"c:\velk\nuv.err"
CALLS = r"C:\VELKTEST\calls.txt"
RUN_VALUES = ("Velk NUV", "Velk NUV2", "Velk NUV3")


def plugin(name):
    """Windows path of a test plug-in installed beside the engine."""
    return "C:\\Velk\\NUV\\" + name


def prepare(pc, run_list, dev_mode=True, logging=True, korb=False, run_values=RUN_VALUES,
            engine_build=os.path.join("engine", "NUV.exe"), engine_command=ENGINE):
    """engine_command: what "Velk NUV" starts after every restart."""
    pc.put_file(ENGINE, source=built(engine_build, pc.arch))
    for name in ("scripted_wrapper.dll", "c_wrapper.dll"):
        pc.put_file(plugin(name), source=built(os.path.join("plugins", name), pc.arch))
    pc.put_file(RUN_LIST, run_list)
    pc.make_dir(r"C:\VELKTEST")
    if logging:
        pc.put_file(r"c:\velk\nuv\nuvlog.tag", b"")
    if dev_mode:
        # Development mode with every switch off: the walk is the same, but the
        # 20-second pause before the registry clean-up is left out.
        pc.put_file(r"c:\velk\nuv\devMode.bin", bytes(20))
    if korb:
        pc.put_file(r"C:\VELK\KORB\quorvane.exe", b"MZ")
    for name in run_values:
        command = engine_command if name == "Velk NUV" else r"C:\Velk\NUV\absent.exe"
        pc.set_reg(vpc.RUN_KEY, name, command)


def run_list_lines(pc):
    return pc.read_file(RUN_LIST).decode("latin-1").split("\r\n")


def log_text(pc):
    return pc.read_file(LOG).decode("latin-1") if pc.exists(LOG) else ""


def wait_for_window(pc, probe, predicate, timeout=120):
    """The first visible top-level window the predicate accepts, polled with the probe."""
    deadline = time.monotonic() + timeout
    while True:
        windows = json.loads(pc.run(probe, check=True).stdout)
        for window in windows:
            if window["visible"] and predicate(window):
                return window
        if time.monotonic() > deadline:
            pytest.fail("no such window within %s s: %r" % (timeout, windows))
        time.sleep(0.2)


def child_texts(window):
    return [c["text"] for c in window["children"]]


SC_CLOSE = 0xF060


def close_window(pc, title):
    """Closes the window with that title as its system menu would (message boxes too)."""
    pc.run(install_fixture(pc, "click_control.exe"), title, "0", "--syscommand", str(SC_CLOSE), check=True)

"""Vindle, Tevrost and Pomrel in virtual PCs, with the timings that are what they do."""

import datetime
import json
import os
import re
import time

from conftest import built, install_fixture, vpc
from engine_pc import close_window, plugin, prepare, wait_for_window

TOOLS = r"C:\TOOLS"
ERR = r"c:\velk\nuv.err"
KORB_COPY = r"c:\velk\korb\nuv.err"
FAIL_TAG = r"c:\velk\KORB\ZKTFAIL.TAG"
FINISHED = r"c:\VELK\nuv.dun"
VINDLE_LOG = r"c:\velk\nuv\vindle.log"
TEVROST_LOG = r"C:\VELK\Tevrost.Log"
STAMP = r"\d{1,2}/\d{1,2}/\d{4} - \d{1,2}:\d{1,2}:\d{1,2} "
VINDLE_LINES = ["Vindle: Entered WinMain", "Vindle: NUV found in registry", "Vindle: Waiting for NUV completion",
                "Vindle: NUV completed"]


def install_tool(pc, name):
    path = TOOLS + "\\" + name + ".exe"
    pc.put_file(path, source=built(os.path.join("utilities", name.lower(), name + ".exe"), pc.arch))
    return path


def text(pc, path):
    return pc.read_file(path).decode("latin-1") if pc.exists(path) else None


def vindle_messages(pc):
    lines = text(pc, VINDLE_LOG).split("\r\n")
    assert lines[-1] == ""
    for line in lines[:-1]:
        assert re.match(STAMP, line), line
    return [re.sub("^" + STAMP, "", line) for line in lines[:-1]]


def test_vindle_hands_over_a_failure_or_waits_for_the_engine(make_pc):
    pc = make_pc()
    vindle = install_tool(pc, "Vindle")
    pc.make_dir(r"C:\VELK\NUV")
    pc.make_dir(r"C:\VELK\KORB")
    # A failure already there: handed over at once, nothing logged, no registry needed.
    pc.put_file(ERR, b"Installation Failed\r\n")
    assert pc.run(vindle, timeout=60).code == 0
    assert text(pc, KORB_COPY) == "Installation Failed\r\n"
    assert text(pc, FAIL_TAG) == ""
    assert not pc.exists(VINDLE_LOG)
    # An existing tag is not changed.
    pc.put_file(FAIL_TAG, b"left by the factory")
    assert pc.run(vindle, timeout=60).code == 0
    assert text(pc, FAIL_TAG) == "left by the factory"

    # No failure, the engine's Run value not there yet: Vindle waits for it.
    os.remove(pc.host_path(ERR))
    pc.put_file(FINISHED, b"")
    process = pc.start(vindle)
    deadline = time.monotonic() + 60
    while text(pc, VINDLE_LOG) is None and time.monotonic() < deadline:
        time.sleep(0.1)
    time.sleep(1)
    assert process.poll() is None
    assert vindle_messages(pc) == VINDLE_LINES[:1]
    pc.set_reg(vpc.RUN_KEY, "Velk NUV", r"C:\Velk\NUV\NUV.exe")
    assert process.wait(60) == 0
    assert vindle_messages(pc) == VINDLE_LINES


def test_vindle_ends_within_a_poll_of_the_engines_final_clean_up(make_pc):
    pc = make_pc()
    vindle = install_tool(pc, "Vindle")
    prepare(pc, "%s,one\r\n" % plugin("scripted_wrapper.dll"))
    # Development mode with the engine's clean-up off keeps Vindle's log in the engine folder.
    pc.put_file(r"c:\velk\nuv\devMode.bin", b"\0\0\0\0\1" + bytes(15))
    # Started beside the engine at the first boot; the engine's clean-up removes the value,
    # so the final restart does not start it again.
    pc.set_reg(vpc.RUN_KEY, "Velk NUV2", vindle)
    pc.boot()
    pc.wait_idle(timeout=240)

    lines = text(pc, VINDLE_LOG).split("\r\n")
    assert [re.sub("^" + STAMP, "", line) for line in lines[:-1]] == VINDLE_LINES
    finished = datetime.datetime.fromtimestamp(os.stat(pc.host_path(FINISHED)).st_mtime).replace(microsecond=0)
    completed = datetime.datetime.strptime(re.match(STAMP, lines[3]).group(0).strip(), "%m/%d/%Y - %H:%M:%S")
    assert datetime.timedelta(seconds=-1) <= completed - finished <= datetime.timedelta(seconds=6), (finished, completed)


def tevrost_entries(pc):
    entries = re.findall(r"\[(\d+)\] \w{3} \w{3} \d{2} \d{2}:\d{2}:\d{2} \d{4}\r\n    ([^\r\n]*)\r\n", text(pc, TEVROST_LOG))
    assert len(entries) * 2 == text(pc, TEVROST_LOG).count("\r\n")
    return [message for _, message in entries]


def test_tevrost_waits_shows_its_countdown_and_starts_the_command(make_pc):
    pc = make_pc()
    tevrost = install_tool(pc, "Tevrost")
    probe = install_fixture(pc, "window_probe.exe")
    program = install_fixture(pc, "fake_setup.exe")
    pc.make_dir(r"C:\VELK")
    started = time.monotonic()
    process = pc.start(tevrost, "3", program, "arg")
    window = wait_for_window(pc, probe, lambda w: w["title"] == "Tevrost, Ver: A01 [%s]" % program)
    assert window["rect"]["right"] - window["rect"]["left"] == 350
    assert process.wait(60) == 0
    deadline = time.monotonic() + 30
    while not pc.exists(r"C:\VELK\fake_setup.txt") and time.monotonic() < deadline:
        time.sleep(0.1)
    # Three seconds of 924 ms each before the start.
    assert time.monotonic() - started >= 2.7
    assert text(pc, r"C:\VELK\fake_setup.txt").startswith("run %s arg" % program)
    assert tevrost_entries(pc) == ["Delay 3 Seconds...", "Launching '%s arg'..." % program,
                                   "Successful Command Line Start"]

    # A start that fails is logged with the system's text, and the exit code is still 0.
    os.remove(pc.host_path(TEVROST_LOG))
    assert pc.run(tevrost, "1", r"C:\nothing.exe").code == 0
    assert tevrost_entries(pc)[2].startswith("Command Line Start Failed: (2) ")
    assert len(tevrost_entries(pc)[2]) > len("Command Line Start Failed: (2) ")


def test_tevrost_and_pomrel_show_their_usage(make_pc):
    pc = make_pc()
    tevrost = install_tool(pc, "Tevrost")
    pomrel = install_tool(pc, "Pomrel")
    probe = install_fixture(pc, "window_probe.exe")
    cases = [(tevrost, [], "Tevrost, Ver: A01", "USAGE: Tevrost  xx  command_line", 1),
             (tevrost, ["3"], "Tevrost, Ver: A01", "USAGE: Tevrost  xx  command_line", 1),
             (tevrost, ["0", "prog"], "Tevrost, Ver: A01", "USAGE: Tevrost  xx  command_line", 1),
             (pomrel, [], "Pomrel 1.01 Usage", "[usage] Pomrel SecondsToSleep", 0),
             (pomrel, ["/s"], "Pomrel 1.01 Usage", "[usage] Pomrel SecondsToSleep", 0)]
    for program, arguments, title, shown, code in cases:
        process = pc.start(program, *arguments)
        box = wait_for_window(pc, probe, lambda w: w["title"] == title)
        assert any(shown in child["text"] for child in box["children"]), box
        close_window(pc, title)
        assert process.wait(60) == code


def test_pomrel_counts_down_and_closes_or_skips(make_pc):
    pc = make_pc()
    pomrel = install_tool(pc, "Pomrel")
    probe = install_fixture(pc, "window_probe.exe")
    started = time.monotonic()
    process = pc.start(pomrel, "3")
    seen = []
    # Topmost once shown: under Wine the window may be listed for an instant before its
    # topmost state is, so wait for the two together rather than catch that instant.
    wait_for_window(pc, probe, lambda w: w["title"] == "Pomrel 1.01" and w["topmost"], timeout=30)
    while process.poll() is None:
        for w in json.loads(pc.run(probe, check=True).stdout):
            # A dialog caught while being torn down may have no controls left.
            values = [c["text"] for c in w["children"] if c["id"] == 1000]
            if w["title"] == "Pomrel 1.01" and values and values[0] and (not seen or seen[-1] != values[0]):
                seen.append(values[0])
        time.sleep(0.1)
    assert process.wait() == 0
    assert time.monotonic() - started >= 2.5
    assert seen == ["3", "2", "1"]
    # Skipped: no dialog, no wait.
    skipped = time.monotonic()
    assert pc.run(pomrel, "3", "/s", timeout=60).code == 0
    assert time.monotonic() - skipped < 2.5

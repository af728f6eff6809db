"""Development mode as an engineer uses it: the Development Mode window beside the
progress window, operated by clicking its controls."""

import time

import pytest

from conftest import install_fixture, vpc
from engine_pc import CALLS, ENGINE, RUN_VALUES, log_text, plugin, prepare, wait_for_window

TITLE = "Development Mode"
STEP, RUN, PAUSE, RUN_NUV, CONTINUE = 1013, 1014, 1015, 1016, 1017
APP_CLEANUP, ENGINE_CLEANUP, LOGGING_ON, LOGGING_OFF, SKIP_REBOOTS = 1019, 1020, 1021, 1022, 1026
DEV_MODE_COMMAND = 1130
SC_CLOSE = 0xF060
RESTART_TEXT = "Setup will restart your computer in 10 seconds..."


class Operator:
    """Looks at the PC's windows and clicks their controls, as a person would."""

    def __init__(self, pc):
        self.pc = pc
        self.probe = install_fixture(pc, "window_probe.exe")
        self.clicker = install_fixture(pc, "click_control.exe")

    def wait_for(self, predicate, timeout=120):
        return wait_for_window(self.pc, self.probe, predicate, timeout)

    def dev_window(self, predicate=lambda w: True):
        return self.wait_for(lambda w: w["title"] == TITLE and w["process"].lower() == "nuv.exe" and predicate(w))

    def click(self, control, title=TITLE):
        self.pc.run(self.clicker, title, str(control), check=True)

    def choose(self, title, control, command):
        self.pc.run(self.clicker, title, str(control), "--syscommand", str(command), check=True)


def control(window, control_id):
    return next(c for c in window["children"] if c["id"] == control_id)


def enabled(window):
    return {name: control(window, i)["enabled"]
            for name, i in (("step", STEP), ("run", RUN), ("pause", PAUSE), ("continue", CONTINUE))}


def waiting(window):
    return control(window, STEP)["enabled"]


def installs(pc):
    return pc.read_file(CALLS).decode().count("install") if pc.exists(CALLS) else 0


def common_colour(rows, left, right, top, bottom):
    counts = {}
    for y in range(top, bottom):
        for x in range(left, right):
            pixel = bytes(rows[y][x * 3:x * 3 + 3])
            counts[pixel] = counts.get(pixel, 0) + 1
    return max(counts, key=counts.get)


def filled_part(pc, person, path):
    """The progress bar's position, and whether its first third is drawn in another
    colour than its last third: filled."""
    window = person.wait_for(lambda w: w["process"].lower() == "nuv.exe" and any(c["id"] == 1000 for c in w["children"]))
    bar = control(window, 1000)
    r = bar["rect"]
    third = (r["right"] - r["left"]) // 3
    rows = vpc.read_png(pc.screenshot(path))[2]
    first = common_colour(rows, r["left"] + 3, r["left"] + third - 3, r["top"] + 3, r["bottom"] - 3)
    last = common_colour(rows, r["right"] - third + 3, r["right"] - 3, r["top"] + 3, r["bottom"] - 3)
    return bar["pos"], first != last


def wait_until(condition, timeout=120):
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            pytest.fail("condition not met within %s s" % timeout)
        time.sleep(0.2)


def test_a_paused_start_is_stepped_entry_by_entry_then_run_to_the_end(make_pc, artefacts):
    pc = make_pc(display=True)
    wrapper = plugin("scripted_wrapper.dll")
    prepare(pc, "".join("%s,entry%d\r\n" % (wrapper, n) for n in (1, 2, 3)), dev_mode=False)
    pc.put_file(r"c:\velk\nuv\devmode.nuv", b"")
    person = Operator(pc)
    pc.boot()

    # Both windows; the walk waits before its first entry.
    window = person.dev_window(waiting)
    person.wait_for(lambda w: w["process"].lower() == "nuv.exe" and any(c["id"] == 1000 for c in w["children"]))
    assert enabled(window) == {"step": True, "run": True, "pause": False, "continue": True}
    assert installs(pc) == 0
    # In the bottom-right corner of the 1024 x 768 screen (Wine shows no taskbar here).
    assert (window["rect"]["right"], window["rect"]["bottom"]) == (1024, 768)
    pc.screenshot(artefacts + "/development-mode.png")
    assert filled_part(pc, person, artefacts + "/progress-no-step.png") == (0, False)

    # The run list in Notepad.
    person.click(RUN_NUV)
    notepad = person.wait_for(lambda w: w["process"].lower() == "notepad.exe")
    person.choose(notepad["title"], 0, SC_CLOSE)

    # Logging off, then one step: one entry runs, nothing is logged.
    person.click(LOGGING_OFF)
    logged = len(log_text(pc))
    person.click(STEP)
    wait_until(lambda: installs(pc) == 1)
    window = person.dev_window(waiting)
    assert enabled(window) == {"step": True, "run": True, "pause": False, "continue": True}
    assert len(log_text(pc)) == logged
    # The bar stands one of three steps on, and is drawn so.
    assert filled_part(pc, person, artefacts + "/progress-one-step.png") == (1, True)

    # Logging on again, one more step: the log goes on.
    person.click(LOGGING_ON)
    person.click(STEP)
    wait_until(lambda: installs(pc) == 2)
    person.dev_window(waiting)
    assert "CControlManager::InstallApplications(...) GetEntry(...) return valid entry" in log_text(pc)[logged:]

    # Run: to the end, through the clean-up and the last restart.
    person.click(RUN)
    pc.wait_idle(timeout=240)
    assert installs(pc) == 3
    assert not pc.exists(ENGINE)
    assert pc.boot_count() == 2


def test_the_switches_skip_the_restart_and_both_clean_ups(make_pc):
    pc = make_pc()
    wrapper = plugin("scripted_wrapper.dll")
    prepare(pc, "%s,first,C:\\VELKTEST\\SRC,,REBOOT\r\n%s,second\r\n" % (wrapper, wrapper), dev_mode=False)
    pc.put_file(r"c:\velk\nuv\devmode.nuv", b"")
    pc.put_file(r"C:\VELKTEST\SRC\setup.dat", b"source")
    person = Operator(pc)
    pc.boot()

    person.dev_window(waiting)
    for box in (SKIP_REBOOTS, APP_CLEANUP, ENGINE_CLEANUP):
        person.click(box)
    window = person.dev_window()
    assert all(control(window, box)["checked"] for box in (SKIP_REBOOTS, APP_CLEANUP, ENGINE_CLEANUP))
    person.click(RUN)
    pc.wait_idle(timeout=120)

    # The REBOOT entry did not stop the walk, and the machine was not restarted.
    lines = pc.read_file(r"C:\VELK\RUN.NUV").decode("latin-1").split("\r\n")
    assert [l.count("START ") + l.count("STOP ") + l.count("CLEAN ") for l in lines[:2]] == [3, 3]
    assert pc.boot_count() == 1
    assert not pc.exists(r"c:\velk\nuv\devMode.bin")
    # A CLEAN stamp, the sources kept.
    assert "cleanup" not in pc.read_file(CALLS).decode()
    assert pc.read_file(r"C:\VELKTEST\SRC\setup.dat") == b"source"
    # The Run values gone, the engine's files kept, the finished mark there.
    assert all(pc.get_reg(vpc.RUN_KEY, name) is None for name in RUN_VALUES)
    assert pc.exists(ENGINE) and pc.exists(plugin("scripted_wrapper.dll"))
    assert pc.exists(r"C:\Velk\nuv.dun")


def test_dev_mode_chosen_from_the_menu_is_on_again_after_the_restart(make_pc):
    pc = make_pc()
    wrapper = plugin("scripted_wrapper.dll")
    prepare(pc, "%s,first,,,REBOOT\r\n%s,second\r\n" % (wrapper, wrapper), dev_mode=False)
    person = Operator(pc)
    pc.boot()

    # During the countdown before the restart: "Dev Mode" from the progress window's menu.
    countdown = person.wait_for(lambda w: w["process"].lower() == "nuv.exe" and
                                RESTART_TEXT in [c["text"] for c in w["children"]])
    person.choose(countdown["title"], 1000, DEV_MODE_COMMAND)
    first = person.dev_window()
    # After the restart the engine starts in development mode.
    second = person.dev_window(lambda w: w["pid"] != first["pid"])
    assert second["pid"] != first["pid"]
    pc.wait_idle(timeout=240)
    assert installs(pc) == 2
    assert pc.boot_count() == 3

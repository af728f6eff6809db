"""The engine as a whole: started from the Run key after every restart, it walks the
run list, restarts between packages, and removes itself at the end."""

import pytest

from conftest import install_fixture, vpc
from engine_pc import (CALLS, ENGINE, ERR, RUN_LIST, child_texts, log_text, plugin, prepare,
                       run_list_lines, wait_for_window)

RESTART_TEXT = "Setup will restart your computer in 10 seconds..."


# The 9x family has no delayed MoveFileEx; Wine has one in both families, so the 9x
# PC makes the engine take its restart-file path, as on a real 9x machine.
NO_DELAYED_MOVE = {"VELK_TEST_NO_DELAYED_MOVE": "1"}


@pytest.mark.parametrize("family", ["nt", "9x"])
def test_three_entries_across_one_restart_then_the_engine_removes_itself(make_pc, family):
    pc = make_pc(family=family, environment=NO_DELAYED_MOVE if family == "9x" else None)
    wrapper = plugin("scripted_wrapper.dll")
    prepare(pc, "%s,first,,30\r\n%s,second,,,REBOOT\r\n%s,third\r\n" % (wrapper, wrapper, wrapper))
    probe = install_fixture(pc, "window_probe.exe")

    pc.boot()
    countdown = wait_for_window(
        pc, probe, lambda w: w["process"].lower() == "nuv.exe" and RESTART_TEXT in child_texts(w))
    assert countdown["title"] == "Velk Setup"
    assert "Restart" in child_texts(countdown)
    pc.wait_idle(timeout=240)

    lines = run_list_lines(pc)
    assert [l.count("START ") + l.count("STOP ") + l.count("CLEAN ") for l in lines[:3]] == [3, 3, 3]
    assert lines[1].startswith(wrapper + ", second, , , REBOOT, START ")
    calls = pc.read_file(CALLS).decode()
    assert calls.count("install") == 3
    log = log_text(pc)
    assert log.count("NUV: Started") == 2
    assert "Intermediate reboot detected (SystemShutdownFinal == FALSE)." in log
    assert "KORB not enabled.  Setting final system shutdown." in log
    assert pc.boot_count() == 3

    # The engine's own clean-up, and its deletion at the final restart.
    for name in ("Velk NUV", "Velk NUV2", "Velk NUV3"):
        assert pc.get_reg(vpc.RUN_KEY, name) is None
    files = pc.dump(folders=[r"C:\Velk"])["files"]
    assert files[r"C:\Velk\nuv.dun"] & 0x01
    assert files[r"C:\Velk\RUN.NUV"] & 0x02
    assert not pc.exists(ENGINE)
    assert not pc.exists(ERR)
    if family == "nt":
        assert not pc.exists(r"C:\Velk\NUV")
    if family == "9x":
        # Wine's start-up carried out the restart file and kept it as wininit.bak.
        wininit = pc.read_file(r"C:\windows\wininit.bak").decode("latin-1").split("\r\n")
        assert wininit[0].lower() == "[rename]"
        assert wininit[1].upper().startswith("NUL=") and wininit[1].upper().endswith(r"\NUV.EXE")
        assert wininit[3].upper().startswith("NUL=") and wininit[3].upper().endswith(r"\NUV")

"""The engine as a whole: started from the Run key after every restart, it walks the
run list, restarts between packages, and removes itself at the end."""

import os

import pytest

from conftest import install_fixture, vpc
from engine_pc import (CALLS, ENGINE, ERR, RUN_LIST, child_texts, log_text, plugin, prepare,
                       run_list_lines, wait_for_window)

RESTART_TEXT = "Setup will restart your computer in 10 seconds..."


# The 9x family has no delayed MoveFileEx; Wine has one in both families, so the 9x
# PC runs a test build of the engine that takes the restart-file path, as on a real 9x
# machine.
NO_DELAYED_MOVE_BUILD = os.path.join("fixtures", "nuv_without_delayed_move.exe")


@pytest.mark.parametrize("family", ["nt", "9x"])
def test_three_entries_across_one_restart_then_the_engine_removes_itself(make_pc, family):
    pc = make_pc(family=family)
    wrapper = plugin("scripted_wrapper.dll")
    prepare(pc, "%s,first,,30\r\n%s,second,,,REBOOT\r\n%s,third\r\n" % (wrapper, wrapper, wrapper),
            **({"engine_build": NO_DELAYED_MOVE_BUILD} if family == "9x" else {}))
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


def test_a_failure_outside_the_factory_makes_one_more_final_pass_which_cleans_up(make_pc):
    pc = make_pc()
    wrapper = plugin("scripted_wrapper.dll")
    # "Velk NUV3" was never created: its deletion fails with the system's text.
    prepare(pc, "%s,fail\r\n%s,never\r\n" % (wrapper, wrapper), run_values=("Velk NUV", "Velk NUV2"))
    pc.boot()
    pc.wait_idle(timeout=240)

    log = log_text(pc)
    assert log.count("NUV: Started") == 2
    assert "errors encountered.  Setting RANONCE.NUV." in log
    assert "RANONCE.NUV exists or there were no errors.  Deleting files..." in log
    assert pc.boot_count() == 3
    errors = pc.read_file(ERR).decode("latin-1")
    assert errors.startswith("Installation Failed\r\n\t'%s, fail, , , , START " % wrapper)
    assert "Failing Download. Install started but did not complete before reboot! :\r\n" in errors
    assert errors.endswith("CNUVApp::DeleteFiles() Registry Error: File not found.\r\n")
    assert pc.get_reg(vpc.RUN_KEY, "Velk NUV") is None
    assert pc.get_reg(vpc.RUN_KEY, "Velk NUV2") is None
    # The second entry was never reached.
    assert "never" not in pc.read_file(CALLS).decode()
    assert pc.exists(r"C:\Velk\nuv.dun")
    assert not pc.exists(ENGINE)


@pytest.mark.parametrize("family", ["nt", "9x"])
def test_a_failure_under_the_factory_is_handed_over_without_a_restart(make_pc, family):
    pc = make_pc(family=family)
    wrapper = plugin("scripted_wrapper.dll")
    prepare(pc, "%s,fail\r\n" % wrapper, korb=True)
    pc.boot()
    pc.wait_idle(timeout=120)

    assert pc.boot_count() == 1
    assert pc.exists(r"C:\Velk\KORB\ZKTFAIL.TAG")
    assert pc.exists(r"C:\Velk\nuv.dun")
    copy = pc.read_file(r"c:\velk\korb\nuv.err").decode("latin-1")
    assert copy == pc.read_file(ERR).decode("latin-1")
    assert copy.endswith("\r\n-=-=-=-=-= R U N . N U V   C O N T  E N T S =-=-=-=-=-\r\n%s, fail, , , , START %s\r\n"
                         % (wrapper, copy.split("START ")[1][:8]))
    # The engine stays installed for the factory to look at.
    assert pc.exists(ENGINE)
    assert pc.get_reg(vpc.RUN_KEY, "Velk NUV") == ENGINE


def test_a_clean_run_under_the_factory_forces_one_restart_then_stays_up(make_pc):
    pc = make_pc()
    wrapper = plugin("scripted_wrapper.dll")
    prepare(pc, "%s,good\r\n" % wrapper, korb=True)
    pc.delete_reg(r"HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Winlogon", "AutoAdminLogon")
    pc.boot()
    pc.wait_idle(timeout=180)

    # Read before any program runs again: a new session carries out scheduled deletions.
    assert pc.exists(ENGINE)
    assert not pc.exists(r"C:\Velk\NUV\RANONCE.NUV")
    log = log_text(pc)
    assert "Final forced reboot under KORB." in log
    assert log.count("NUV: Started") == 2
    assert pc.boot_count() == 2
    assert pc.get_reg(r"HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Winlogon", "AutoAdminLogon") == "1"
    assert pc.get_reg(vpc.RUN_KEY, "Velk NUV") is None
    assert pc.exists(r"C:\Velk\nuv.dun")
    assert not pc.exists(ERR)


def test_an_empty_run_list_is_a_finished_one(make_pc):
    pc = make_pc()
    prepare(pc, "# nothing to install\r\n")
    pc.boot()
    pc.wait_idle(timeout=120)
    assert pc.boot_count() == 2
    assert pc.exists(r"C:\Velk\nuv.dun")
    assert not pc.exists(ENGINE)
    log = log_text(pc)
    assert "NUV: Started -=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-\r\n\r\n" in log
    order = ["CNUVApp: Called with no parameters.  Entering RUN mode",
             "CNUVApp:: calling CNUVDlg.DoModal(...).",
             "CControlManager::InstallApplications(...) called",
             "CControlManager::InstallApplications(...) UnloadWrappers(...) being called",
             "CNUVDlg: SystemRestoreThread(...) RANONCE.NUV exists or there were no errors.  Deleting files...",
             "CNUVDlg: SystemRestoreThread(...) KORB not enabled.  Setting final system shutdown.",
             "CNUVApp:: CNUVDlg.DoModal(...) returned.",
             "CNUVApp:: Mutex handle closed.",
             "CNUVApp::ExitWindowsEx(...) shutting down system.",
             "CNUVApp:: Returning FALSE from InitInstance(...)."]
    positions = [log.find(line + "\r\n") for line in order]
    assert -1 not in positions, log
    assert positions == sorted(positions)
    assert not pc.exists(ERR)

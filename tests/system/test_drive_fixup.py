"""Hobrint and Jaskel in a virtual PC with fixed drives C:, D:, E: and a CD-ROM: which
drive letter they write, what they log, the dialogs of their error modes, and a fixed
run list that the engine then walks as before."""

import os

import pytest

from conftest import built, install_fixture
from engine_pc import CALLS, RUN_LIST, close_window, plugin, prepare, wait_for_window

HOBRINT = r"C:\TOOLS\Hobrint.exe"
JASKEL = r"C:\TOOLS\Jaskel.exe"
HOBRINT_LOG = r"C:\VELK\HOBRINT.LOG"
JASKEL_LOG = r"C:\VELK\JASKEL.LOG"


def make_pc_with_drives(make_pc):
    pc = make_pc(fixed_drives=["d", "e"], cdrom="f")
    pc.put_file(HOBRINT, source=built(os.path.join("utilities", "hobrint", "Hobrint.exe"), pc.arch))
    pc.put_file(JASKEL, source=built(os.path.join("utilities", "jaskel", "Jaskel.exe"), pc.arch))
    pc.make_dir(r"C:\VELK")
    return pc


def text(pc, path):
    return pc.read_file(path).decode("latin-1") if pc.exists(path) else None


def take_log(pc, path):
    """The log's text since the last call (the file is removed)."""
    content = text(pc, path)
    if content is not None:
        os.remove(pc.host_path(path))
    return content


def test_hobrint_writes_the_first_drive_holding_the_program_and_the_engine_walks_the_list(make_pc):
    pc = make_pc_with_drives(make_pc)
    wrapper = plugin("scripted_wrapper.dll")
    for path in (r"D:\APPS\ONE\SETUP.EXE", r"E:\APPS\ONE\SETUP.EXE", r"C:\APPS\TWO\SETUP.EXE",
                 r"E:\APPS\TWO\SETUP.EXE", r"F:\APPS\ONE\SETUP.EXE"):
        pc.put_file(path, b"MZ")
    original = ("# ${NUVDEST} in a comment stays\r\n"
                "%s, ${NUVDEST}:\\APPS\\ONE\\SETUP.EXE /q, , 30\r\n"
                "%s, ${nuvdest}:\\APPS\\TWO\\SETUP.EXE ${NUVDEST}:\\APPS\\TWO\\DATA\r\n"
                "\r\n"
                "%s, C:\\APPS\\PLAIN.EXE\r\n" % (wrapper, wrapper, wrapper))
    prepare(pc, original)
    assert pc.run(HOBRINT, RUN_LIST, wrapper.upper(), "NUVDEST").code == 0

    fixed = original.replace("${NUVDEST}:\\APPS\\ONE", "D:\\APPS\\ONE").replace(
        "${nuvdest}:\\APPS\\TWO\\SETUP.EXE ${NUVDEST}", "C:\\APPS\\TWO\\SETUP.EXE C")
    assert text(pc, RUN_LIST) == fixed
    assert text(pc, r"C:\VELK\RUNNUV.BAK") == original
    assert not pc.exists(r"C:\VELK\RUNNUV.TMP")
    # Neither /V nor C:\VELK.SDR: the banner and the two lines of success only.
    assert text(pc, HOBRINT_LOG) == ("HOBRINT.EXE - Version A01\r\nFile successfully created: C:\\VELK\\RUN.NUV\r\n"
                                     "\r\n** Changes Were Made **\r\n")
    assert pc.dump(folders=[r"C:\VELK"])["files"][HOBRINT_LOG] & 0x02

    # The engine walks the fixed list: the same lines in the same order, every entry done.
    pc.boot()
    pc.wait_idle(timeout=240)
    calls = pc.read_file(CALLS).decode()
    assert "install 1 30 D:\\APPS\\ONE\\SETUP.EXE /q\n" in calls
    assert "install 2 0 C:\\APPS\\TWO\\SETUP.EXE C:\\APPS\\TWO\\DATA\n" in calls
    lines = text(pc, RUN_LIST).split("\r\n")
    assert len(lines) == len(fixed.split("\r\n"))
    assert [line.count("CLEAN ") for line in lines] == [0, 1, 1, 0, 1, 0]


def test_hobrint_first_available_mode_no_changes_and_a_program_found_nowhere(make_pc):
    pc = make_pc_with_drives(make_pc)
    token = "NUVMSI.DLL"
    listed = "NUVMSI.DLL, ${NUVDEST}:\\APPS\\NONE\\SETUP.EXE\r\n"
    pc.put_file(RUN_LIST, listed)
    # D: cannot take the probe file: it is logged and passed over.
    pc.make_dir(r"D:\tempfile")
    assert pc.run(HOBRINT, RUN_LIST, token, "NUVDEST", "/F").code == 0
    assert text(pc, RUN_LIST) == "NUVMSI.DLL, E:\\APPS\\NONE\\SETUP.EXE\r\n"
    assert "    Searched Hard Drive: D:\\, <-- Unable to access this device\r\n" in take_log(pc, HOBRINT_LOG)
    assert not pc.exists(r"E:\tempfile")

    # A "tempfile" of the user's own is probed, and kept.
    pc.put_file(RUN_LIST, listed)
    pc.put_file(r"E:\tempfile", b"the user's own")
    assert pc.run(HOBRINT, RUN_LIST, token, "NUVDEST", "/F").code == 0
    assert text(pc, RUN_LIST) == "NUVMSI.DLL, E:\\APPS\\NONE\\SETUP.EXE\r\n"
    assert pc.read_file(r"E:\tempfile") == b"the user's own"
    take_log(pc, HOBRINT_LOG)

    # With E: unwritable too, the letter is C.
    os.remove(pc.host_path(r"E:\tempfile"))
    pc.put_file(RUN_LIST, listed)
    pc.make_dir(r"E:\tempfile")
    assert pc.run(HOBRINT, RUN_LIST, token, "NUVDEST", "/F").code == 0
    assert text(pc, RUN_LIST) == "NUVMSI.DLL, C:\\APPS\\NONE\\SETUP.EXE\r\n"
    take_log(pc, HOBRINT_LOG)

    # Found on no drive: logged, the line as it was, no change made.
    pc.put_file(RUN_LIST, listed)
    pc.put_file(r"C:\VELK\RUNNUV.BAK", b"an older backup")
    assert pc.run(HOBRINT, RUN_LIST, token, "NUVDEST").code == 0
    assert text(pc, RUN_LIST) == listed
    assert text(pc, r"C:\VELK\RUNNUV.BAK") == "an older backup"
    assert not pc.exists(r"C:\VELK\RUNNUV.TMP")
    assert take_log(pc, HOBRINT_LOG) == (
        "HOBRINT.EXE - Version A01\r\n** Unable To Find Application On Available Drives **\r\n"
        "  Searched Command Line: \\APPS\\NONE\\SETUP.EXE\r\n** No Changes Were Necessary **\r\n")


def test_jaskel_writes_the_first_drive_holding_the_tag_and_fails_without_it(make_pc):
    pc = make_pc_with_drives(make_pc)
    pc.put_file(r"D:\WOW_APP\INSTALL.EXE", b"MZ")
    pc.put_file(r"E:\WOW_APP\INSTALL.EXE", b"MZ")
    settings = "[Paths]\r\nData=${NUVDEST}:\\WOW_APP\\DATA\r\nOther=x\r\nlast=${nuvdest}:"
    pc.put_file(r"C:\WOW_APP\WOW_APP.INI", settings)
    # The drive given with the tag plays no part.
    assert pc.run(JASKEL, r"C:\WOW_APP\INSTALL.EXE", r"C:\WOW_APP\WOW_APP.INI", "NUVDEST").code == 0
    assert text(pc, r"C:\WOW_APP\WOW_APP.INI") == "[Paths]\r\nData=D:\\WOW_APP\\DATA\r\nOther=x\r\nlast=D:"
    assert text(pc, r"C:\WOW_APP\WOW_APP.BAK") == settings
    assert not pc.exists(r"C:\WOW_APP\F0E1D2C3.TMP")
    assert take_log(pc, JASKEL_LOG) == ("JASKEL.EXE - Version A00\r\nFile successfully created: C:\\WOW_APP\\WOW_APP.INI"
                                        "\r\n\r\n** Changes Were Made **\r\n")

    pc.put_file(r"C:\OTHER\SETUP.INI", settings)
    assert pc.run(JASKEL, r"\NOWHERE\SETUP.EXE", r"C:\OTHER\SETUP.INI", "NUVDEST").code == 1
    assert text(pc, r"C:\OTHER\SETUP.INI") == settings
    assert not pc.exists(r"C:\OTHER\F0E1D2C3.TMP") and not pc.exists(r"C:\OTHER\SETUP.BAK")
    assert take_log(pc, JASKEL_LOG).endswith(
        "** Tag File Was Not Found **\r\n[Jaskel] Unable To Locate Tag File On Any Drive Letter: \\NOWHERE\\SETUP.EXE\r\n")


def test_what_the_fixups_edit_or_find_beside_it_is_never_lost(make_pc):
    pc = make_pc_with_drives(make_pc)
    pc.put_file(r"D:\WOW_APP\INSTALL.EXE", b"MZ")
    # A line ending in CR CR LF is copied as it stands.
    settings = "[Paths]\r\r\nData=${NUVDEST}:\\WOW_APP\\DATA\r\n"
    fixed = "[Paths]\r\r\nData=D:\\WOW_APP\\DATA\r\n"
    # The backup takes the dot of the file's own name (a file beside a folder named with
    # a dot is someone else's), and a *.BAK file is not its own backup.
    pc.put_file(r"C:\APP.BAK", b"someone else's")
    for edited, backup in ((r"C:\APP.V2\SETTINGS", r"C:\APP.V2\SETTINGS.BAK"),
                           (r"C:\OTHER\X.BAK", r"C:\OTHER\X.BAK.BAK")):
        pc.put_file(edited, settings)
        assert pc.run(JASKEL, r"\WOW_APP\INSTALL.EXE", edited, "NUVDEST").code == 0
        assert (text(pc, edited), text(pc, backup)) == (fixed, settings), edited
    assert pc.read_file(r"C:\APP.BAK") == b"someone else's"
    take_log(pc, JASKEL_LOG)

    # A file named like the temporary file is neither deleted nor emptied: it is refused.
    for program, edited, log, token in ((JASKEL, r"C:\OTHER\F0E1D2C3.TMP", JASKEL_LOG, r"\WOW_APP\INSTALL.EXE"),
                                        (HOBRINT, r"C:\OTHER\RUNNUV.TMP", HOBRINT_LOG, "OSTREL.DLL")):
        listed = "OSTREL.DLL, ${NUVDEST}:\\WOW_APP\\INSTALL.EXE\r\n"
        pc.put_file(edited, listed)
        arguments = (token, edited, "NUVDEST") if program == JASKEL else (edited, token, "NUVDEST")
        assert pc.run(program, *arguments).code == 1
        assert text(pc, edited) == listed
        assert take_log(pc, log).endswith("Unable To Create File: %s\r\n" % edited)
    # A list named like Hobrint's backup keeps its previous contents beside it all the same.
    pc.put_file(r"C:\OTHER\RUNNUV.BAK", listed)
    assert pc.run(HOBRINT, r"C:\OTHER\RUNNUV.BAK", "OSTREL.DLL", "NUVDEST").code == 0
    assert text(pc, r"C:\OTHER\RUNNUV.BAK.BAK") == listed


@pytest.mark.parametrize("case", ["usage", "verbose", "development", "jaskel verbose"])
def test_the_error_modes_show_their_dialogs(make_pc, case):
    pc = make_pc_with_drives(make_pc)
    probe = install_fixture(pc, "window_probe.exe")
    if case == "development":
        pc.put_file(r"C:\VELK.SDR", "@echo off\r\nrem Created On Server LUMO TEST 12/08/2026\r\n")
    program, arguments, title, shown, log = {
        "usage": (HOBRINT, [], "HOBRINT - Usage", "Usage: HOBRINT  drive_path_RUN.NUV  line_token  drive_variable  "
                  "[/F]  [/V]", HOBRINT_LOG),
        "verbose": (HOBRINT, [r"C:\VELK\MISSING.NUV", "TOKEN", "NUVDEST", "/V"], "Verbose Mode Active - Program Error",
                    r"Unable To Open File: C:\VELK\MISSING.NUV", HOBRINT_LOG),
        "development": (HOBRINT, [r"C:\VELK\MISSING.NUV", "TOKEN", "NUVDEST"],
                        "Development Mode Active In LUMO @ TEST, PROTO & SV",
                        r"Unable To Open File: C:\VELK\MISSING.NUV", HOBRINT_LOG),
        "jaskel verbose": (JASKEL, [r"\NOWHERE\SETUP.EXE", r"C:\A.INI", "NUVDEST", "/V"],
                           "[JASKEL] Verbose Mode Active - Program Error",
                           r"[Jaskel] Unable To Locate Tag File On Any Drive Letter: \NOWHERE\SETUP.EXE", JASKEL_LOG),
    }[case]
    process = pc.start(program, *arguments)
    box = wait_for_window(pc, probe, lambda w: w["title"] == title)
    assert any(shown in child["text"] for child in box["children"]), box
    close_window(pc, title)
    assert process.wait(60) == 1
    logged = text(pc, log)
    if case == "usage":
        assert logged is None  # an empty command line logs nothing
    else:
        # Verbose and development mode write the start block first.
        assert logged.split("\r\n")[1] == ""
        assert logged.split("\r\n")[2].startswith(("HOBRINT.EXE", "JASKEL.EXE"))
        assert "  Using The Following Settings:\r\n" in logged
        assert logged.endswith(shown + "\r\n")

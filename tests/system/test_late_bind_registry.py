"""Morlane with the real registry of a virtual PC: record mode finds the values that hold
the late bind text, apply mode moves them to the CD-ROM drive's root."""

import os

from conftest import built, install_fixture
from engine_pc import close_window, wait_for_window

MORLANE = r"C:\TOOLS\Morlane.exe"
DATA = r"C:\VELK\morlane.txt"
UTILS_LOG = r"C:\Velk\Utils.Log"
KEY = r"HKCU\Software\VelkMorlane"


def make_morlane_pc(make_pc, **drives):
    pc = make_pc(**drives)
    pc.put_file(MORLANE, source=built(os.path.join("utilities", "morlane", "Morlane.exe"), pc.arch))
    pc.make_dir(r"C:\VELK")
    return pc


def close_box_and_wait(pc, process, title):
    probe = install_fixture(pc, "window_probe.exe")
    wait_for_window(pc, probe, lambda w: w["title"] == title and "Program Complete!" in [c["text"] for c in w["children"]])
    close_window(pc, title)
    return process.wait(60)


def test_record_then_apply_onto_the_cd_rom_drive(make_pc):
    pc = make_morlane_pc(make_pc, fixed_drives=["d"], cdrom="f")
    pc.set_reg(KEY + r"\Key1", "Path", r"D:\Apps\Tool.exe")
    pc.set_reg(KEY + r"\Key1", "Expand", r"%SystemRoot%;d:\APPS\Data", kind="REG_EXPAND_SZ")
    pc.set_reg(KEY + r"\Key1", "Other", r"C:\Windows")
    pc.set_reg(KEY + r"\Key1\RunMRU", "a", r"d:\apps\x")
    pc.set_reg(KEY + r"\Key2", "N" * 50, r"d:\apps\y")
    pc.set_reg(KEY + r"\Key2", "Long", "x" * 2000 + r";D:\Apps\End")

    process = pc.start(MORLANE, "/t", "/l", r"D:\Apps", DATA, "/u", r"Software\VelkMorlane", "/m", r"Software\NoSuchKey")
    assert close_box_and_wait(pc, process, MORLANE) == 0
    records = pc.read_file(DATA).decode("latin-1")
    lines = records.split("\r\n")
    # In the order the registry lists the values: compared as a set of records.
    assert lines[-1] == "" and len(lines) == 10, records
    assert {tuple(lines[i:i + 3]) for i in range(0, 9, 3)} == {
        ("HKEY_CURRENT_USER\\software\\velkmorlane\\Key1", "Path", "d:\\apps"),
        ("HKEY_CURRENT_USER\\software\\velkmorlane\\Key1", "Expand", "d:\\apps"),
        ("HKEY_CURRENT_USER\\software\\velkmorlane\\Key2", "Long", "d:\\apps")}

    # A record written with e: finds the value on d: too; an empty line ends the records.
    pc.put_file(DATA, records + "HKEY_CURRENT_USER\\software\\velkmorlane\\Key3\r\nMoved\r\ne:\\apps\r\n\r\n")
    pc.set_reg(KEY + r"\Key3", "Moved", r"D:\Apps\Other.exe")
    assert pc.run(MORLANE, DATA, "/l").code == 0
    values = pc.query_key(KEY + r"\Key1")
    # Only the recorded text changes: the type and the rest's letter case stay.
    assert values["Path"] == ("REG_SZ", r"f:\Tool.exe")
    assert values["Expand"] == ("REG_EXPAND_SZ", r"%SystemRoot%;f:\Data")
    assert values["Other"] == ("REG_SZ", r"C:\Windows")
    assert pc.get_reg(KEY + r"\Key2", "Long") == "x" * 2000 + r";f:\End"
    assert pc.get_reg(KEY + r"\Key3", "Moved") == r"f:\Other.exe"
    assert pc.get_reg(KEY + r"\Key1\RunMRU", "a") == r"d:\apps\x"
    assert not pc.exists(DATA)
    assert "MORLANE: Double Backslash replacement: f:\\\\ to f:\\ \r\n" in pc.read_file(UTILS_LOG).decode("latin-1")

    # An empty data file is an incomplete record: exit code 13, and the file stays.
    pc.put_file(DATA, b"")
    assert pc.run(MORLANE, DATA).code == 13
    assert pc.exists(DATA)


def test_without_a_cd_rom_the_root_is_the_letter_after_the_last_drive(make_pc):
    pc = make_morlane_pc(make_pc)
    pc.set_reg(KEY, "Legacy", r"C:\Legacy\App.exe")
    pc.put_file(DATA, "HKEY_CURRENT_USER\\Software\\VelkMorlane\r\nLegacy\r\nc:\\legacy\r\n")
    assert pc.run(MORLANE, DATA).code == 0
    # Drives A: and C: only: the root is d:\.
    assert pc.get_reg(KEY, "Legacy") == r"d:\App.exe"
    assert pc.run(MORLANE).code == 2
    assert pc.run(MORLANE, r"C:\VELK\none.txt").code == 2

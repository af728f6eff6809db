"""The virtual PC itself: restarts, drives, OS families, windows and screenshots."""

import json
import os
import time

import pytest

from conftest import install_fixture, vpc


class ScriptedRegistry(vpc.registry.Registry):
    """reg.exe's results, one after the other."""
    arch = "win32"

    def __init__(self, results):
        self.results = list(results)
        self.calls = 0

    def run(self, *args):
        self.calls += 1
        return self.results.pop(0)


OK, GONE, BUSY = (vpc.pc.Result(0, "reg: The operation completed successfully\r\n", ""),
                  vpc.pc.Result(1, "reg: Unable to find the specified registry value\r\n", ""),
                  vpc.pc.Result(1, "reg: Access denied\r\n", ""))


@pytest.mark.native
@pytest.mark.parametrize("results, calls, fails", [
    ([OK], 1, False), ([GONE], 1, False), ([BUSY, OK], 2, False), ([BUSY, BUSY, GONE], 3, False),
    ([BUSY, BUSY, BUSY], 3, True)])
def test_a_registry_delete_accepts_only_not_found_and_tries_a_failure_again(monkeypatch, results, calls, fails):
    monkeypatch.setattr(vpc.registry, "PAUSE", 0)
    registry = ScriptedRegistry(results)
    if fails:
        with pytest.raises(vpc.VpcError, match="Access denied"):
            registry.delete_reg(r"HKLM\Software\VpcTest", "Text")
    else:
        registry.delete_reg(r"HKLM\Software\VpcTest", "Text")
    assert registry.calls == calls


@pytest.mark.parametrize("family, platform_id", [("nt", 2), ("9x", 1)])
def test_restart_loop_runs_three_times_and_processes_delayed_deletions(make_pc, family, platform_id):
    pc = make_pc(family=family)
    program = install_fixture(pc, "restart_loop.exe")
    pc.put_file(r"C:\loop\doomed\file.txt", b"scheduled for deletion")
    pc.set_reg(vpc.RUN_KEY, "Loop", program)

    pc.boot()
    pc.wait_idle(timeout=180)

    runs = pc.read_file(r"C:\loop\runs.txt").decode()
    assert runs == "".join("run %d platform %d\r\n" % (n, platform_id) for n in (1, 2, 3))
    assert not pc.exists(r"C:\loop\doomed\file.txt")
    assert not pc.exists(r"C:\loop\doomed")
    assert pc.boot_count() == 3
    state = pc.dump(keys=[vpc.RUN_KEY], folders=[r"C:\loop"])
    assert state["boots"] == 3
    assert state["registry"][vpc.RUN_KEY]["Loop"] == program
    assert set(state["files"]) == {r"C:\loop\runs.txt"}


def test_drive_types_seen_by_a_windows_program(make_pc):
    pc = make_pc(fixed_drives=["d", "e"], cdrom="f")
    result = pc.run(install_fixture(pc, "drive_types.exe"), check=True)
    assert json.loads(result.stdout) == {"A:": 2, "C:": 3, "D:": 3, "E:": 3, "F:": 5}


def test_plain_pc_has_floppy_and_c_only(make_pc):
    pc = make_pc()
    result = pc.run(install_fixture(pc, "drive_types.exe"), check=True)
    assert json.loads(result.stdout) == {"A:": 2, "C:": 3}
    # The user's folders are the PC's own, not links to the home folder of this machine.
    users = pc.host_path("C:\\users")
    assert [os.path.join(root, d) for root, dirs, _ in os.walk(users) for d in dirs
            if os.path.islink(os.path.join(root, d))] == []


def test_files_registry_and_attributes_round_trip(make_pc):
    pc = make_pc()
    pc.put_file(r"C:\Velk\Sub\data.bin", bytes(range(256)))
    assert pc.read_file(r"c:\velk\sub\DATA.BIN") == bytes(range(256))
    pc.run("attrib", "+h", r"C:\Velk\Sub\data.bin", check=True)
    pc.set_reg(r"HKLM\Software\VpcTest", "Text", "a value with spaces")
    pc.set_reg(r"HKLM\Software\VpcTest", "Number", 7)
    assert pc.get_reg(r"HKLM\Software\VpcTest", "Text") == "a value with spaces"
    assert pc.get_reg(r"HKLM\Software\VpcTest", "Number") == 7
    assert pc.get_reg(r"HKLM\Software\VpcTest", "Missing") is None
    assert pc.get_reg(r"HKLM\Software\NoSuchKey", "Text") is None
    pc.delete_reg(r"HKLM\Software\VpcTest", "Text")
    assert pc.get_reg(r"HKLM\Software\VpcTest", "Text") is None
    # What is not there is fine to delete; any other failure of reg.exe is an error.
    pc.delete_reg(r"HKLM\Software\VpcTest", "Text")
    pc.delete_reg(r"HKLM\Software\NoSuchKey")
    with pytest.raises(vpc.VpcError, match="Invalid system key"):
        pc.delete_reg(r"HKXX\Software\VpcTest")
    files = pc.dump(folders=[r"C:\Velk"])["files"]
    assert files[r"C:\Velk\Sub"] & 0x10
    assert files[r"C:\Velk\Sub\data.bin"] & 0x02
    # A file the PC shares with its template through a hard link is replaced, never
    # written through: the next PC still gets the template's own.
    template_copy = os.path.join(vpc.template_path(pc.arch), "drive_c", "windows", "system32", "msi.dll")
    with open(template_copy, "rb") as f:
        before = f.read()
    pc.put_file(r"C:\windows\system32\msi.dll", b"MZ stand-in")
    assert pc.read_file(r"C:\windows\system32\msi.dll") == b"MZ stand-in"
    with open(template_copy, "rb") as f:
        assert f.read() == before


def _probe_until(pc, probe, title, timeout=60):
    deadline = time.monotonic() + timeout
    while True:
        windows = json.loads(pc.run(probe, check=True).stdout)
        found = [w for w in windows if w["title"] == title and w["visible"]]
        if found:
            return found[0]
        if time.monotonic() > deadline:
            pytest.fail("no window %r within %s s: %r" % (title, timeout, windows))
        time.sleep(0.2)


def test_probe_reads_a_dialog_headless(make_pc):
    pc = make_pc()
    probe = install_fixture(pc, "window_probe.exe")
    pc.start(install_fixture(pc, "dialog_fixture.exe"))
    window = _probe_until(pc, probe, "Probe Fixture")
    assert window["rect"] == {"left": 100, "top": 80, "right": 400, "bottom": 200}
    assert window["topmost"] is True
    assert window["process"].lower() == "dialog_fixture.exe"
    texts = {(c["id"], c["text"]) for c in window["children"]}
    assert (1001, "Fixture text") in texts
    assert (1, "OK") in texts
    pc.put_file(r"C:\close.tag", b"")


def test_screenshot_under_xvfb(make_pc, artefacts):
    pc = make_pc(display=True)
    probe = install_fixture(pc, "window_probe.exe")
    pc.start(install_fixture(pc, "dialog_fixture.exe"))
    _probe_until(pc, probe, "Probe Fixture")
    path = pc.screenshot(artefacts + "/vpc-dialog.png")
    width, height, rows = vpc.read_png(path)
    assert (width, height) == (1024, 768)
    # The dialog is on the screen: the picture is not one colour.
    assert len(set(b"".join(rows))) > 3


@pytest.mark.native
def test_a_windows_path_never_leads_off_its_drive(tmp_path):
    # What the PC's files are written and removed through: never a file of the host's.
    (tmp_path / "dosdevices").mkdir()
    (tmp_path / "drive_c").mkdir()
    (tmp_path / "dosdevices" / "c:").symlink_to(tmp_path / "drive_c")
    pc = type("PC", (vpc.prefix.DrivesAndFiles,), {"prefix": str(tmp_path)})()
    assert pc.host_path("C:\\Velk\\RUN.NUV") == str(tmp_path / "drive_c" / "Velk" / "RUN.NUV")
    # A folder of the drive that is a link to the host's own folder (as Wine makes the
    # user's Documents) leads off it too.
    (tmp_path / "drive_c" / "Documents").symlink_to(tmp_path)
    for path in ("C:\\..\\secret", "C:\\Velk\\..\\..\\x", "C:/../x", "C:\\Documents\\x.txt"):
        with pytest.raises(vpc.VpcError):
            pc.host_path(path)

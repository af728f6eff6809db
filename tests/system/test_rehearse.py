"""Rehearsals as a factory engineer runs them: scripts/vpc rehearse with a list of their
own, its report in a terminal and in a real browser, and scripts/vpc report on the
C:\\VELK folder a PC leaves behind."""

import fcntl
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import xml.etree.ElementTree as ET

import pytest

from browser import chromium
from conftest import REPO, built, vpc
from vpc import boot, machine_diff

VPC = os.path.join(REPO, "scripts", "vpc")
# A command that makes a folder, a test package (one file under Program Files) in the same
# boot that asks for a restart, then a command that writes one registry value. The first
# entry's clean-up folder holds many files: the engine takes a while to delete them
# between its STOP and CLEAN stamps, a while in which the two entries stand apart even
# on a machine too busy to see every version of the list.
SUCCEEDS = ("OSTREL.DLL, C:\\windows\\system32\\cmd.exe /c mkdir C:\\VelkFirst, C:\\VELK\\APPS\\FIRST, 60\r\n"
            "QUILLAN.DLL, C:\\VELK\\APPS\\ALPHA\\Alpha.msi, C:\\VELK\\APPS\\ALPHA, 300, REBOOT\r\n"
            "OSTREL.DLL, C:\\windows\\system32\\reg.exe add HKLM\\Software\\VelkRehearsal /v Made /d yes /f, , 60\r\n")
# A command that fails, whose clean-up folder the sources lack (a check error), and an
# entry the walk never reaches.
FAILS = ("OSTREL.DLL, C:\\windows\\system32\\cmd.exe /c exit 3, C:\\VELK\\APPS\\GONE, 60\r\n"
         "OSTREL.DLL, C:\\windows\\system32\\cmd.exe /c mkdir C:\\Never, , 60\r\n")
LISTS = {"succeeds": (SUCCEEDS, ["--time-limit", "900"]), "fails": (FAILS, ["--force", "--time-limit", "900"])}


def write_list(folder, text, arch):
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "RUN.NUV"), "w", newline="") as f:
        f.write(text)
    package = os.path.join(folder, "src", "C", "VELK", "APPS", "ALPHA", "Alpha.msi")
    os.makedirs(os.path.dirname(package))
    shutil.copyfile(built(os.path.join("fixtures", "packages", "Alpha.msi"), arch), package)
    first = os.path.join(folder, "src", "C", "VELK", "APPS", "FIRST")
    os.makedirs(first)
    for n in range(60):
        with open(os.path.join(first, "part%02d.txt" % n), "w") as f:
            f.write("part %d\n" % n)


def vpc_command(*args):
    return subprocess.run([sys.executable, VPC, *args], stdin=subprocess.DEVNULL, capture_output=True, text=True,
                          timeout=1200)


class Rehearsed:
    def __init__(self, folder):
        self.folder = folder
        self.out = os.path.join(folder, "out")
        with open(os.path.join(folder, "result.json")) as f:
            self.code, self.stdout, self.stderr = json.load(f)
        if not os.path.exists(os.path.join(self.out, "report.json")):
            pytest.fail("no report (exit code %d):\n%s%s" % (self.code, self.stdout, self.stderr))
        with open(os.path.join(self.out, "report.json")) as f:
            self.model = json.load(f)
        with open(os.path.join(self.out, "report.txt")) as f:
            self.text = f.read()


@pytest.fixture(scope="module")
def rehearsal(tmp_path_factory):
    """rehearsal(name, arch): the list rehearsed once for the whole run, whichever of
    the test processes asks first; the others wait for it and read its result."""
    shared = tmp_path_factory.getbasetemp()
    if os.environ.get("PYTEST_XDIST_WORKER"):
        shared = shared.parent

    def get(name, arch):
        folder = str(shared / ("rehearsal-%s-%s" % (name, arch)))
        with open(folder + ".lock", "w") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            if not os.path.exists(os.path.join(folder, "result.json")):
                text, options = LISTS[name]
                shutil.rmtree(folder, ignore_errors=True)
                # The list and its sources beside the output folder: never around it.
                write_list(os.path.join(folder, "list"), text, arch)
                result = vpc_command("rehearse", os.path.join(folder, "list", "RUN.NUV"), "--sources",
                                     os.path.join(folder, "list", "src"), "--arch", arch, "--out",
                                     os.path.join(folder, "out"), "--junit", os.path.join(folder, "junit.xml"),
                                     *options)
                with open(os.path.join(folder, "result.json"), "w") as f:
                    json.dump([result.returncode, result.stdout, result.stderr], f)
        return Rehearsed(folder)

    return get


def test_a_list_that_succeeds_through_a_restart(arch, rehearsal):
    done = rehearsal("succeeds", arch)
    assert done.code == 0, done.stdout + done.stderr
    text = done.text
    assert "Outcome: finished without errors" in text
    assert "Restarts: 2 (boots: 3)" in text and "Errors: none" in text
    # Every entry with its stamps, result and the restart it asked for.
    assert [(e["wrapper"], e["result"], e["reboot"]) for e in done.model["entries"]] == [
        ("OSTREL.DLL", "done", False), ("QUILLAN.DLL", "done", True), ("OSTREL.DLL", "done", False)]
    for entry in done.model["entries"]:
        assert "  %d. %s %s" % (entry["number"], entry["wrapper"], entry["command"]) in text
        assert ", ".join(entry["stamps"].values()) in text
    assert "clean-up folder C:\\VELK\\APPS\\ALPHA: gone" in text
    # The timeline: a bar per entry, the package's before the restart, the command's after,
    # and the rehearsal's own time at the restarts apart from the line's.
    timeline = done.model["timeline"]
    restart = timeline["restarts"][0]["x"]
    first, package, command = (row["bars"][0] for row in timeline["rows"][:3])
    assert first["x"] <= package["x"] <= restart < command["x"]
    assert timeline["rows"][-1]["bars"] and all(b["kind"] == "gate" for b in timeline["rows"][-1]["bars"])
    r = done.model["rehearsal"]
    assert r["overhead_seconds"] < 5 * 2 and r["machine_seconds"] + r["overhead_seconds"] == pytest.approx(r["seconds"])
    # What the package and the command left, in the boot that made it.
    boots = done.model["rehearsal"]["changes"]
    package = [path for path, _, _ in boots[0]["changes"]["files_added"]]
    assert "C:\\Program Files\\Velk Alpha\\readme.txt" in package
    assert any("\\CurrentVersion\\Uninstall\\" in key and name == "DisplayName" and value == "Velk Alpha"
               for key, name, value in boots[0]["changes"]["values_added"])
    assert ["HKLM\\Software\\VelkRehearsal", "Made", "yes"] in boots[1]["changes"]["values_added"]
    assert "      HKLM\\Software\\VelkRehearsal\\Made = yes\n" in text
    # Two entries in one boot: each change under the entry that made it.
    made_by = {}
    for boot in boots:
        for group in boot["by_entry"]:
            for path, _, _ in group["changes"]["files_added"]:
                made_by[path] = group["entries"]
            for key, name, _ in group["changes"]["values_added"]:
                made_by[key + "\\" + name] = group["entries"]
    assert made_by["C:\\VelkFirst\\"] == [1]
    assert made_by["C:\\Program Files\\Velk Alpha\\readme.txt"] == [2]
    assert made_by["HKLM\\Software\\VelkRehearsal\\Made"] == [3]
    assert "  Boot 1, entry 2: QUILLAN.DLL C:\\VELK\\APPS\\ALPHA\\Alpha.msi\n" in text
    # Never in a diff: Wine's own changes, the rehearsal's folder and its RunOnce value.
    everything = json.dumps(boots).lower()
    for own in ("c:\\\\vpc", "vpc gate", "hklm\\\\software\\\\wine\\\\", "hkcu\\\\software\\\\wine"):
        assert own not in everything, own
    # The engine's end: its folder went at the last restart, its Run values with it.
    assert "C:\\Velk\\NUV\\NUV.exe" in [p for p, _, _ in boots[1]["changes"]["files_removed"]]
    assert "Run values left: none" in text
    shots = done.model["rehearsal"]["screenshots"]
    assert {(s["boot"], s["what"]) for s in shots} >= {(1, "countdown"), (2, "progress"), (2, "countdown")}


@pytest.mark.native
def test_wine_registry_files_are_read_as_keys_and_values_and_compared():
    before = machine_diff.parse_registry_text(
        'WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win32\n\n'
        '[Software\\\\Velk\\\\Tool] 1700000000\n#time=1d9a\n@="default"\n"Gone"="x"\n"Kept"=dword:0000000a\n'
        '[Software\\\\Wine] 1700000000\n"Churn"="1"\n', "HKLM")
    after = machine_diff.parse_registry_text(
        '[Software\\\\Velk\\\\Tool] 1700000009\n#time=1d9b\n@="default"\n"Kept"=dword:0000000b\n'
        '"Say \\"hi\\""="C:\\\\caf\\x00e9\\\\"\n"Path"=str(2):"%SystemRoot%"\n"List"=str(7):"a\\0b\\0"\n'
        '"Bytes"=hex:01,02,\\\n  03\n[Software\\\\Velk\\\\Tool\\\\New\\\\Leaf] 1700000009\n'
        '[Software\\\\Wine] 1700000009\n"Churn"="2"\n'
        '[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\RunOnce] 1700000009\n"vpc gate"="cmd"\n', "HKLM")
    assert set(before) == {"HKLM", "HKLM\\Software", "HKLM\\Software\\Velk", "HKLM\\Software\\Velk\\Tool",
                           "HKLM\\Software\\Wine"}
    changes = machine_diff.compare(machine_diff.Snapshot({}, before), machine_diff.Snapshot({}, after))
    tool = "HKLM\\Software\\Velk\\Tool"
    assert changes["keys_added"] == ["HKLM\\Software\\Microsoft", "HKLM\\Software\\Microsoft\\Windows",
                                     "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion",
                                     "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce",
                                     tool + "\\New", tool + "\\New\\Leaf"]
    assert changes["values_added"] == [(tool, "Bytes", "hex:01,02,03"), (tool, "List", "a | b (multi-string)"),
                                       (tool, "Path", "%SystemRoot% (expandable)"),
                                       (tool, 'Say "hi"', "C:\\caf\u00e9\\")]
    assert changes["values_changed"] == [(tool, "Kept", "0xa (10)", "0xb (11)")]
    assert changes["values_removed"] == [(tool, "Gone", "x")]


def test_the_page_renders_in_a_browser_and_loads_nothing_from_outside(arch, rehearsal, tmp_path):
    done = rehearsal("succeeds", arch)
    page = os.path.join(done.out, "report.html")
    picture, net_log = str(tmp_path / "page.png"), str(tmp_path / "net.json")
    chromium(page, str(tmp_path), "--screenshot=" + picture, "--window-size=1280,1600", "--log-net-log=" + net_log)
    dom = chromium(page, str(tmp_path), "--dump-dom")

    # Rendered: a picture of more than one colour with dark text on it.
    width, height, rows = vpc.read_png(picture)
    assert (width, height) == (1280, 1600)
    assert vpc.shows_text(rows, {"left": 0, "top": 0, "right": width, "bottom": 400}, minimum=2000)
    for entry in done.model["entries"]:
        assert 'id="entry-%d"' % entry["number"] in dom
        assert entry["command"].replace("&", "&amp;") in dom
    assert len(re.findall(r'<rect class="bar [a-z]+" data-entry=', dom)) == len(done.model["entries"])
    assert 'id="changes-by-entry"' in dom and 'data-entries="2"' in dom
    # Nothing from outside: no address in the page, and no request the page made.
    assert not re.search(r'(?:src|href)\s*=\s*"(?!data:|#)', dom)
    assert "http://" not in dom and "https://" not in dom
    with open(net_log) as f:
        log = json.load(f)
    kinds = {number: name for name, number in log["constants"]["logEventTypes"].items()}
    requests = [e["params"] for e in log["events"] if kinds[e["type"]] == "URL_REQUEST_START_JOB"
                and "url" in e.get("params", {})]
    # The browser's own calls home (refused here) have no origin; the page's would.
    assert [r["url"] for r in requests if r.get("initiator") != "not an origin"] == []


def test_a_list_with_a_check_error_is_refused_unless_forced_and_then_fails(arch, rehearsal, tmp_path):
    write_list(str(tmp_path / "list"), FAILS, arch)
    refused = vpc_command("rehearse", str(tmp_path / "list" / "RUN.NUV"), "--sources", str(tmp_path / "list" / "src"),
                          "--arch", arch, "--out", str(tmp_path / "out"))
    assert refused.returncode == 2
    assert "RUN.NUV:1: error: clean-up folder C:\\VELK\\APPS\\GONE is not a folder of the sources" in refused.stdout
    assert not os.path.exists(tmp_path / "out" / "report.html")

    failed = rehearsal("fails", arch)
    assert failed.code == 1, failed.stdout + failed.stderr
    assert "Outcome: failed" in failed.text
    wrapper_line = "Error returned from CreateProcess on task 'C:\\windows\\system32\\cmd.exe /c exit 3', exit code: 3"
    first, never = failed.model["entries"]
    # The whole screen as it was when the engine wrote its error file.
    assert any(s["what"] == "screen" and s["boot"] == 1 for s in failed.model["rehearsal"]["screenshots"])
    assert first["result"].startswith("install failed") and never["result"] == "not reached"
    assert first["errors"][:2] == [wrapper_line, "Installation Failed"]
    assert failed.model["error_lines"][0] == wrapper_line
    assert "  | " + wrapper_line in failed.text
    with open(os.path.join(failed.out, "report.html")) as f:
        page = f.read()
    assert re.search(r'<tr class="entry failed" id="entry-1">.*?install failed', page, re.S)
    assert wrapper_line.replace("'", "&#39;") in page
    # CI sees the same: the entry failed with its error lines, the one not reached skipped.
    cases = ET.parse(os.path.join(failed.folder, "junit.xml")).getroot().iter("testcase")
    assert [(c[0].tag if len(c) else "passed", (c[0].text or "").split("\n")[0]) for c in cases] == [
        ("failure", wrapper_line), ("skipped", ""), ("failure", "failed")]


def test_the_report_from_a_copy_of_the_pc_matches_the_rehearsal(arch, rehearsal, tmp_path):
    failed = rehearsal("fails", arch)
    velk = str(tmp_path / "VELK")
    shutil.copytree(os.path.join(failed.out, "VELK"), velk)
    made = vpc_command("report", velk, "--out", str(tmp_path / "report"))
    assert made.returncode == 1, made.stdout + made.stderr
    with open(tmp_path / "report" / "report.json") as f:
        model = json.load(f)

    def facts(m):
        return [(e["number"], e["wrapper"], e["command"], e["stamps"], e["result"], e["errors"]) for e in m["entries"]]
    assert facts(model) == facts(failed.model)
    assert model["error_lines"] == failed.model["error_lines"]
    assert model["rehearsal"] is None and "Screenshots" not in made.stdout


def test_a_rehearsal_ended_by_sigterm_ends_its_pc_and_reports_what_ran(arch, tmp_path):
    # An entry that waits ten minutes; the rehearsal is ended while it runs.
    write_list(str(tmp_path / "list"), "OSTREL.DLL, C:\\VELK\\APPS\\WAIT\\task_exit.exe 0 600000, , 900\r\n", arch)
    wait = tmp_path / "list" / "src" / "C" / "VELK" / "APPS" / "WAIT"
    wait.mkdir()
    shutil.copyfile(built(os.path.join("fixtures", "task_exit.exe"), arch), wait / "task_exit.exe")
    own_tmp = tmp_path / "tmp"
    own_tmp.mkdir()
    out = tmp_path / "out"
    proc = subprocess.Popen([sys.executable, VPC, "rehearse", str(tmp_path / "list" / "RUN.NUV"), "--sources",
                             str(tmp_path / "list" / "src"), "--arch", arch, "--out", str(out)],
                            env=dict(os.environ, TMPDIR=str(own_tmp)), stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        seen = []
        for line in proc.stderr:
            seen.append(line)
            if "entry 1 of 1: OSTREL.DLL" in line:
                break
        else:
            pytest.fail("the entry never ran:\n" + "".join(seen))
        proc.send_signal(signal.SIGTERM)
        stdout, stderr = proc.communicate(timeout=300)
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
    assert proc.returncode == 1, "".join(seen) + stderr
    with open(out / "report.json") as f:
        model = json.load(f)
    assert "interrupted (SIGTERM)" in model["outcome"] and not model["finished"]
    assert model["entries"][0]["stamps"]["START"] and "interrupted (SIGTERM)" in stdout
    # Nothing of the PC is left: no process of its prefix, no folder (Wine keeps a
    # temporary folder of its own there).
    assert [name for name in os.listdir(own_tmp) if name.startswith("vpc-")] == []
    mark = str(own_tmp).encode()
    assert [pid for pid in boot.process_ids() if any(mark in e for e in boot.environment(pid))] == []


def test_a_packages_runonce_program_may_hold_a_restart_longer_than_the_engine_gone_wait(arch, tmp_path):
    # The first entry leaves a RunOnce program that runs for 8 s at the restart; the
    # rehearsal, told to switch the PC off 3 s after the engine has gone, must wait for
    # Wine to start the Run key before it counts.
    slow = "C:\\VELK\\APPS\\WAIT\\task_exit.exe 0 8000"
    text = ("OSTREL.DLL, C:\\windows\\system32\\reg.exe add HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce"
            " /v Slow /d \"%s\" /f, , 60, REBOOT\r\n"
            "OSTREL.DLL, C:\\windows\\system32\\cmd.exe /c mkdir C:\\AfterRunOnce, , 60\r\n" % slow)
    write_list(str(tmp_path / "list"), text, arch)
    wait = tmp_path / "list" / "src" / "C" / "VELK" / "APPS" / "WAIT"
    wait.mkdir()
    shutil.copyfile(built(os.path.join("fixtures", "task_exit.exe"), arch), wait / "task_exit.exe")
    result = subprocess.run([sys.executable, VPC, "rehearse", str(tmp_path / "list" / "RUN.NUV"), "--sources",
                             str(tmp_path / "list" / "src"), "--arch", arch, "--out", str(tmp_path / "out")],
                            env=dict(os.environ, VELK_ENGINE_GONE_WAIT="3"), stdin=subprocess.DEVNULL,
                            capture_output=True, text=True, timeout=900)
    assert result.returncode == 0, result.stdout + result.stderr
    with open(tmp_path / "out" / "report.json") as f:
        model = json.load(f)
    assert [e["result"] for e in model["entries"]] == ["done", "done"]
    assert model["rehearsal"]["stopped"] is None

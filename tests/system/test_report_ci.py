"""What CI reads of a report: report.json as docs/report-json.md describes it, the
JUnit file of --junit, and the timeline's labels."""

import argparse
import json
import os
import re
import xml.etree.ElementTree as ET

import pytest

from conftest import REPO
from vpc import cli, junit, machine_diff, pictures, report, samples
from vpc.registry import RUN_KEY
from vpc.check import read_run_list
from vpc.rehearse import Rehearsal, StampWatch

# A list of three: one done, one whose install failed, one never reached.
RUN_LIST = ("# three entries\r\n"
            "OSTREL.DLL, C:\\windows\\system32\\reg.exe add HKLM\\Software\\X /v Made /d yes /f, , 60, , "
            "START 10:00:00, STOP 10:00:01, CLEAN 10:00:01\r\n"
            "QUILLAN.DLL, C:\\VELK\\APPS\\ALPHA\\Alpha.msi, C:\\VELK\\APPS\\ALPHA, 300, REBOOT, START 10:00:02\r\n"
            "OSTREL.DLL, C:\\windows\\system32\\cmd.exe /c exit 0, , 60\r\n")
# A failure text with what XML cannot hold as it is: markup, a quote, control characters.
ERRORS = ("Error <1603> & \"more\" \x01\x1b[0m\r\n\tInstallation Failed\r\n"
          "\t'QUILLAN.DLL, C:\\VELK\\APPS\\ALPHA\\Alpha.msi, C:\\VELK\\APPS\\ALPHA, 300, REBOOT'\r\n")
LOG = "".join("12/09/2026 - 10:00:%02d %s\r\n" % line for line in (
    (0, report.STARTED), (0, report.GET_ENTRY), (0, "\tSetting start time"),
    (1, "\tInstallations successful.  Entering stop time."), (1, report.ENTRY_DONE), (2, report.GET_ENTRY),
    (2, "\tSetting start time"), (5, "\tInstallations failed.  Setting error flag."), (6, report.RESTART)))


def write_velk(folder):
    os.makedirs(folder)
    for name, text in (("RUN.NUV", RUN_LIST), ("nuv.err", ERRORS), ("nuv.log", LOG)):
        with open(os.path.join(folder, name), "w", newline="") as f:
            f.write(text)


@pytest.fixture
def rehearsal_model(tmp_path):
    """The model as a rehearsal makes it, its machine readings made up."""
    out = str(tmp_path / "out")
    write_velk(os.path.join(out, "VELK"))
    rehearsal = Rehearsal(os.path.join(out, "VELK", "RUN.NUV"), str(tmp_path), out, check_text="fine\n")
    made = ("file", 3, 1, 0x20)
    rehearsal.snapshots = [machine_diff.Snapshot({"C:\\VELK": ("folder", 0, 0, 0x10)}, {}),
                           machine_diff.Snapshot({"C:\\VELK": ("folder", 0, 0, 0x10), "C:\\VELK\\new.txt": made},
                                                 {"HKLM\\Software\\X": {"Made": '"yes"'},
                                                  RUN_KEY: {"Velk NUV": '"C:\\\\Velk\\\\NUV\\\\NUV.exe"'}})]
    rehearsal.boot_notes = {1: ["still running at the restart: x.exe"]}
    # One boot of 20 seconds; entry 1 ran in its 2nd to 4th second and made new.txt.
    rehearsal.snapshots[1].file_times = {"C:\\VELK\\new.txt": 103.0}
    rehearsal.snapshot_times = [100.0, 120.0]
    rehearsal.boots = [{"boot": 1, "started": 100.0, "engine_started": 101.0, "engine_ended": 115.0, "held": 118.0,
                        "released": 119.0}, {"boot": 2, "started": 119.0, "ended": 120.0}]
    rehearsal.stamps = StampWatch("unused", 100.0)
    rehearsal.stamps.read(report.run_list_entries(read_run_list(os.path.join(out, "VELK", "RUN.NUV"))), 102.0)
    rehearsal.stamps.seen[(1, "CLEAN")] = (103.5, 104.0)
    model = rehearsal.model(boots=2, seconds=9.5, stopped=None)
    return json.loads(json.dumps(model, default=str))


def described_fields():
    """{section heading: [field names]} of docs/report-json.md's tables."""
    with open(os.path.join(REPO, "docs", "report-json.md"), encoding="utf-8") as f:
        text = f.read()
    fields, heading = {}, None
    for line in text.splitlines():
        if line.startswith("### "):
            heading = line[4:].strip()
            fields[heading] = []
        elif heading and re.match(r"^\| `[^`]+` \|", line):
            fields[heading].append(re.match(r"^\| `([^`]+)`", line).group(1))
    return fields


# Each object of report.json and the page's section describing it; [] stands for every
# element of a list.
SECTIONS = (
    ("", "The top level"),
    ("machine", "`machine`"),
    ("entries[]", "`entries[]`"),
    ("entries[].stamps", "`entries[].stamps`"),
    ("timeline", "`timeline`"),
    ("timeline.rows[]", "`timeline.rows[]`"),
    ("timeline.rows[].bars[]", "`timeline.rows[].bars[]`"),
    ("timeline.legend[]", "`timeline.legend[]`"),
    ("timeline.restarts[]", "`timeline.restarts[]`"),
    ("timeline.ticks[]", "`timeline.ticks[]`"),
    ("rehearsal", "`rehearsal`"),
    ("rehearsal.changes[]", "`rehearsal.changes[]`"),
    ("rehearsal.changes[].changes", "`rehearsal.changes[].changes`"),
    ("rehearsal.changes[].by_entry[]", "`rehearsal.changes[].by_entry[]`"),
    ("entries[].changes[]", "`entries[].changes[]`"),
    ("rehearsal.clock", "`rehearsal.clock`"),
    ("rehearsal.clock.boots[]", "`rehearsal.clock.boots[]`"),
    ("rehearsal.clock.windows[]", "`rehearsal.clock.windows[]`"),
    ("rehearsal.run_values[]", "`rehearsal.run_values[]`"),
    ("rehearsal.engine_files[]", "`rehearsal.engine_files[]`"),
    ("rehearsal.harness", "`rehearsal.harness`"),
)


def objects_at(model, path):
    found = [model]
    for step in filter(None, path.split(".")):
        name, every = step.rstrip("[]"), step.endswith("[]")
        found = [o[name] for o in found if isinstance(o.get(name), (dict, list))]
        if every:
            found = [item for items in found for item in items]
    return [o for o in found if isinstance(o, dict)]


@pytest.mark.native
@pytest.mark.parametrize("path,heading", SECTIONS)
def test_every_field_of_report_json_is_described(rehearsal_model, path, heading):
    assert rehearsal_model["schema"] == report.SCHEMA
    fields = described_fields()
    assert heading in fields, "docs/report-json.md has no section %s" % heading
    objects = objects_at(rehearsal_model, path)
    assert objects, "the fixture's model has no %s" % (path or "top level")
    for found in objects:
        assert sorted(found) == sorted(fields[heading]), "docs/report-json.md, section %s" % heading


@pytest.mark.native
def test_the_junit_file_holds_an_entry_per_test_case_and_the_whole_run(tmp_path):
    write_velk(str(tmp_path / "VELK"))
    model = report.build_model(report.read_velk(str(tmp_path / "VELK")), "Report \x07of <RUN.NUV>")
    path = str(tmp_path / "junit.xml")
    junit.JUnitFile(path).write(model)
    root = ET.parse(path).getroot()
    suite = root.find("testsuite")
    assert (root.get("tests"), root.get("failures"), root.get("skipped")) == ("4", "2", "1")
    assert suite.get("name") == "Report of <RUN.NUV>"
    cases = suite.findall("testcase")
    assert [c.get("name") for c in cases] == [
        "entry 1 (line 2): OSTREL.DLL C:\\windows\\system32\\reg.exe add HKLM\\Software\\X /v Made /d yes /f",
        "entry 2 (line 3): QUILLAN.DLL C:\\VELK\\APPS\\ALPHA\\Alpha.msi",
        "entry 3 (line 4): OSTREL.DLL C:\\windows\\system32\\cmd.exe /c exit 0", junit.WHOLE_RUN]
    done, failed, waiting, whole = cases
    assert list(done) == [] and done.get("time") == "1.000"
    assert failed.find("failure").get("message") == "install failed"
    assert failed.find("failure").text.splitlines() == [
        'Error <1603> & "more" [0m', "\tInstallation Failed",
        "\t'QUILLAN.DLL, C:\\VELK\\APPS\\ALPHA\\Alpha.msi, C:\\VELK\\APPS\\ALPHA, 300, REBOOT'"]
    assert waiting.find("skipped").get("message") == "not reached"
    assert whole.find("failure").get("message") == "failed"

    # A file of someone else's is not written over; one of this tool is.
    with open(path, "w") as f:
        f.write("<testsuites name='other'/>")
    with pytest.raises(report.VpcError):
        junit.JUnitFile(path)
    assert junit.failed_model("scripts/vpc report", "x")["finished"] is False


@pytest.mark.native
def test_a_junit_file_says_the_run_has_not_ended_until_it_has(tmp_path):
    # The passing file of an earlier run; the next run is killed before its end.
    path = str(tmp_path / "junit.xml")
    junit.JUnitFile(path).write({"title": "t", "entries": [], "finished": True, "outcome": "done",
                                 "total_seconds": 1})
    accepted = cli.junit_file(argparse.Namespace(junit=path, out=str(tmp_path / "out"), verb="rehearse"))
    assert not accepted.written
    whole = ET.parse(path).getroot().find("testsuite").findall("testcase")[-1]
    assert "did not end" in whole.find("failure").get("message")


# An entry's command and the timeline's label of entry 2.
LABELS = (
    ("C:\\VELK\\APPS\\ALPHA\\Alpha.msi", "2. Alpha.msi"),
    ("C:\\VELK\\APPS\\NOTES\\NotesSetup.exe /S", "2. NotesSetup.exe /S"),
    ("C:\\Program Files\\Velk\\setup.exe  /s   /q", "2. setup.exe /s /q"),
    ('"C:\\Program Files\\Velk\\set up.exe" /s', "2. set up.exe /s"),
    ("cmd /c start.exe", "2. cmd /c start.exe"),
    # Cut at a word when that loses little, else at the width.
    ("C:\\windows\\system32\\cmd.exe /c mkdir C:\\VelkDemo & echo", "2. cmd.exe /c mkdir \u2026"),
    ("C:\\windows\\system32\\reg.exe add HKLM\\Software\\VelkDemo /v", "2. reg.exe add HKLM\\Softwar\u2026"),
    ("C:\\T\\averyveryveryverylongprogramname.exe /s", "2. averyveryveryverylongpro\u2026"),
    ("", "2. OSTREL.DLL"),
)


@pytest.mark.native
@pytest.mark.parametrize("command,label", LABELS)
def test_a_timeline_label_names_the_program_and_its_arguments(command, label):
    assert report.row_label({"number": 2, "wrapper": "OSTREL.DLL", "command": command}) == label


@pytest.mark.native
def test_the_report_picture_is_made_in_a_folder_of_its_own(tmp_path, monkeypatch):
    # The neutral folder, there already: someone's, or another run's. It is left alone.
    neutral = tmp_path / "velk-example"
    neutral.mkdir()
    (neutral / "mine.txt").write_text("mine")
    monkeypatch.setattr(pictures, "NEUTRAL", str(neutral))
    for _, built in samples.PACKAGES:
        (tmp_path / "build" / built).parent.mkdir(parents=True, exist_ok=True)
        (tmp_path / "build" / built).write_bytes(b"MZ")
    with pytest.raises(report.VpcError, match="is there already"):
        pictures.rehearsal_report(str(tmp_path / "docs"), "win32", str(tmp_path / "build"))
    assert os.listdir(neutral) == ["mine.txt"]

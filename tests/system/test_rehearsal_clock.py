"""What the rehearsal's clock tells, without Wine: which entry made each change, the
windows in which the entries ran, and a timeline in which every second has its bar."""

import datetime
import io
import time

import pytest

from vpc import attribution, machine_diff, report, timeline
from vpc.check import read_run_list
from vpc.rehearse import Rehearsal, StampWatch

NO = attribution.NO_ENTRY
WINDOWS = [{"entry": 1, "from": 10.0, "to": 20.0}, {"entry": 2, "from": 20.0, "to": 30.0},
           {"entry": 3, "from": 30.5, "to": 40.0}]


def changes(**kinds):
    found = {kind: [] for kind in attribution.CHANGE_KINDS}
    found.update(kinds)
    return found


@pytest.mark.native
@pytest.mark.parametrize("case, found, file_times, key_times, cleanups, expected", [
    ("a file in the middle of an entry", changes(files_added=[("C:\\A\\x.txt", "file", 32)]),
     {"C:\\A\\x.txt": 15.0}, {}, {}, (1,)),
    ("a file made as one entry ends and the next begins", changes(files_changed=[("C:\\A\\y.txt", "file", 32)]),
     {"C:\\A\\y.txt": 20.0}, {}, {}, (1, 2)),
    ("a file between two entries: the engine's own work", changes(files_added=[("C:\\Velk\\nuv.log", "file", 32)]),
     {"C:\\Velk\\nuv.log": 30.2}, {}, {}, (NO,)),
    ("an added folder goes by the earliest of what it holds",
     changes(files_added=[("C:\\P\\", "folder", 16), ("C:\\P\\a.txt", "file", 32)]),
     {"C:\\P": 35.0, "C:\\P\\a.txt": 15.0}, {}, {}, (1,)),
    ("a key's time may run a tick ahead of the files'", changes(keys_added=["HKLM\\Software\\K"]),
     {}, {"HKLM\\Software\\K": 30.005}, {}, (2, NO)),
    ("one value of a key that was there", changes(values_changed=[("HKLM\\S\\K", "V", "1", "2")]),
     {}, {"HKLM\\S\\K": 25.0}, {}, (2,)),
    ("several values of a key that was there: every entry up to its time",
     changes(values_changed=[("HKLM\\S\\K", "V", "1", "2")], values_added=[("HKLM\\S\\K", "W", "3")]),
     {}, {"HKLM\\S\\K": 25.0}, {}, (1, 2, NO)),
    ("a removed file: every entry up to its folder's time",
     changes(files_removed=[("C:\\Old\\gone.txt", "file", 32)]), {"C:\\Old": 25.0}, {}, {}, (1, 2, NO)),
    ("a removed file in an entry's clean-up folder is that entry's",
     changes(files_removed=[("C:\\VELK\\APPS\\ONE\\setup.exe", "file", 32)]), {"C:\\VELK\\APPS": 35.0}, {},
     {1: "C:\\VELK\\APPS\\ONE", 2: ""}, (1,)),
    ("a change without a time: any entry, or none", changes(files_changed=[("C:\\Z", "file", 32)]), {}, {}, {},
     (1, 2, 3, NO)),
    ("a file removed from a drive's root", changes(files_removed=[("D:\\setup.log", "file", 32)]), {"D:": 15.0}, {},
     {}, (1, NO)),
    ("a value of a key that a later entry gave a subkey",
     changes(values_changed=[("HKLM\\S\\K", "V", "1", "2")], keys_added=["HKLM\\S\\K\\Sub"]),
     {}, {"HKLM\\S\\K": 25.0, "HKLM\\S\\K\\Sub": 25.0}, {}, None),
])
def test_each_change_goes_to_the_entries_whose_window_holds_its_time(case, found, file_times, key_times, cleanups,
                                                                      expected):
    groups = attribution.attribute(found, file_times, key_times, WINDOWS, 0.0, cleanups)
    if expected is None:  # the value widened to every entry up to the key's time, the new subkey not
        assert sorted(tuple(g["entries"]) for g in groups) == [(1, 2, NO), (2,)], case
        return
    assert [tuple(g["entries"]) for g in groups] == [expected], case


@pytest.mark.native
def test_a_group_is_named_as_a_person_reads_it():
    assert [attribution.who(n) for n in ([2], [2, 3], [1, 2, 3], [4, NO], [NO])] == [
        "entry 2", "entry 2 or 3", "entry 1, 2 or 3", "entry 4 or " + attribution.NO_ENTRY_TEXT,
        attribution.NO_ENTRY_TEXT]


def run_list(first="", second="", third=""):
    return ("OSTREL.DLL, a.exe, C:\\VELK\\APPS\\A, 60, %s\r\n" % first
            + "OSTREL.DLL, b.exe, , 60, REBOOT, %s\r\n" % second
            + "OSTREL.DLL, c.exe, , 60, , %s\r\n" % third)


@pytest.mark.native
def test_the_stamps_seen_from_outside_give_each_boot_its_entries_windows(tmp_path):
    done = "START 10:00:00, STOP 10:00:01, CLEAN 10:00:01"
    watch = StampWatch("unused", since=100.0)
    for written, text in (
            (101.0, run_list()),
            (102.0, run_list(", START 10:00:00")),
            (104.0, run_list(", " + done)),
            (105.0, run_list(", " + done, "START 10:00:05")),
            # STOP and CLEAN of entry 2 in one version: both written after 105, by 106.
            (106.0, run_list(", " + done, done)),
            (121.0, run_list(", " + done, done, "START 10:00:21"))):
        path = tmp_path / "RUN.NUV"
        path.write_bytes(text.encode("cp1252"))
        watch.read(report.run_list_entries(read_run_list(str(path))), written)
    # Boot 1 from 100 to its restart at 110; boot 2 from 120 to 130.
    assert watch.windows(100.0, 110.0) == [{"entry": 1, "from": 101.0, "to": 104.0},
                                           {"entry": 2, "from": 104.0, "to": 106.0}]
    assert watch.windows(120.0, 130.0) == [{"entry": 3, "from": 120.0, "to": 130.0}]
    assert watch.cleaned(100.0, 110.0) == {1: "C:\\VELK\\APPS\\A", 2: ""}


@pytest.mark.native
def test_every_second_of_a_rehearsal_has_its_bar_and_the_gates_are_apart():
    t0 = datetime.datetime(2026, 12, 9, 10, 0, 0).timestamp()
    clock = {"ended": t0 + 60, "boots": [
        {"boot": 1, "started": t0, "engine_started": t0 + 2, "engine_ended": t0 + 20, "held": t0 + 22,
         "released": t0 + 23},
        {"boot": 2, "started": t0 + 23, "engine_started": t0 + 24, "engine_ended": t0 + 58}],
        "windows": [{"entry": 1, "boot": 1, "from": t0 + 3, "to": t0 + 8},
                    {"entry": 2, "boot": 2, "from": t0 + 25, "to": t0 + 26}]}
    log = [(datetime.datetime.fromtimestamp(t0 + 10), timeline.COUNTDOWN_BEGINS + " [bSet=TRUE,bFinal=FALSE]"),
           (datetime.datetime.fromtimestamp(t0 + 15), "CNUVDlg::OnDestroy(...) waiting for worker thread"),
           (datetime.datetime.fromtimestamp(t0 + 30), "CNUVApp::DeleteFiles(...) " + timeline.PAUSE_BEGINS),
           (datetime.datetime.fromtimestamp(t0 + 50), "CNUVApp::RemoveFileAtReboot(...) called")]
    entries = [{"number": n, "result_kind": "done"} for n in (1, 2)]
    rows, marks = timeline.rehearsal_rows(entries, clock, log, lambda e: "%d." % e["number"],
                                          lambda e, seconds: "%d" % e["number"])
    bars = sorted((b["from"] - t0, b["to"] - t0, b["kind"]) for row in rows for b in row["bars"])
    reached = 0.0
    for start, end, kind in bars:
        assert start <= reached + 1e-6, "nothing drawn from %s s to %s s" % (reached, start)
        reached = max(reached, end)
    assert reached == 60
    kinds = {kind for _, _, kind in bars}
    assert kinds == {"done", "engine", "countdown", "pause", "boot", "restart", "gate"}
    # The engine's bars stand apart from the entries', its countdown and its pause.
    engine = [(a, b) for a, b, kind in bars if kind == "engine"]
    assert (3, 8) not in engine and all(not (a < 12 < b) for a, b in engine)
    assert rows[-1]["label"].startswith("Rehearsal") and [b["kind"] for b in rows[-1]["bars"]] == ["gate"]
    assert timeline.gate_seconds(clock) == 1 and [m["label"] for m in marks] == ["restart 1"]
    picture = timeline.layout(rows, marks)
    assert all(len(row["text"]) == timeline.TEXT_WIDTH for row in picture["rows"])


@pytest.mark.native
def test_key_times_are_read_from_wine_registry_files():
    times = {}
    machine_diff.parse_registry_text(
        "WINE REGISTRY Version 2\n[Software\\\\A] 1700000000\n#time=1da0b0d6c9f4000\n\"V\"=\"1\"\n"
        "[Software\\\\B] 1700000009\n\"W\"=\"2\"\n", "HKLM", times)
    assert times["HKLM\\Software\\A"] == pytest.approx((0x1da0b0d6c9f4000 - machine_diff.FILETIME_1970) / 1e7)
    assert times["HKLM\\Software\\B"] == 1700000009


@pytest.mark.native
def test_the_progress_line_says_when_nothing_has_changed_for_a_minute():
    shown = io.StringIO()
    rehearsal = Rehearsal("RUN.NUV", ".", "out", progress=shown)
    rehearsal.boot = 2
    for quiet, said in ((5, ""), (130, "; nothing has changed for 2 min")):
        rehearsal.began = rehearsal.last_change = time.monotonic() - quiet
        rehearsal.show("entry 1 of 1: OSTREL.DLL x.exe")
        assert shown.getvalue().splitlines()[-1].startswith("rehearse: boot 2: entry 1 of 1: OSTREL.DLL x.exe%s  ["
                                                            % said)


@pytest.mark.native
@pytest.mark.parametrize("stopped, incomplete, finished, said", [
    (None, [], True, "finished without errors"),
    ("switched off 60 s after the engine had ended; still running: x.exe", [], True, "still running: x.exe)"),
    ("interrupted (SIGTERM)", [], False, "(interrupted (SIGTERM))"),
    ("rehearsal incomplete: the gate did not register itself", ["the gate did not register itself"], False,
     "finished without errors (rehearsal incomplete: the gate did not register itself)"),
    (None, ["the PC was not idle within 60 s"], False, "(rehearsal incomplete: the PC was not idle within 60 s)"),
])
def test_a_rehearsal_cut_short_or_half_seen_never_passes(tmp_path, stopped, incomplete, finished, said):
    velk = tmp_path / "VELK"
    velk.mkdir()
    (velk / "RUN.NUV").write_bytes(b"OSTREL.DLL, a.exe, , 60, , START 10:00:00, STOP 10:00:01, CLEAN 10:00:01\r\n")
    (velk / "nuv.dun").write_bytes(b"")
    model = report.build_model(report.read_velk(str(velk)), "t", {}, {
        "boots": 1, "seconds": 5.0, "stopped": stopped, "incomplete": incomplete})
    assert model["finished"] is finished and said in model["outcome"]
    assert model["outcome"].count("rehearsal incomplete") <= 1


@pytest.mark.native
def test_stamps_the_list_held_before_the_run_tell_nothing_of_when_an_entry_ran(tmp_path):
    lines = ["OSTREL.DLL, a.exe, C:\\VELK\\APPS\\A, 60, , %s, %s, CLEAN 09:00:00",   # CLEAN written by hand
             "OSTREL.DLL, b.exe, , 60, , START 09:00:00, STOP 09:00:01, CLEAN 09:00:01",  # done before the run
             "OSTREL.DLL, c.exe, , 60, , START 09:00:00, %s"]  # begun before a restart
    watch = StampWatch("unused", since=100.0)
    path = tmp_path / "RUN.NUV"
    for written, first, second, third in ((90.0, "", "", ""), (105.0, "START 10:00:05", "", ""),
                                          (107.0, "START 10:00:05", "STOP 10:00:07", ""),
                                          (110.0, "START 10:00:05", "STOP 10:00:07", "STOP 10:00:10")):
        path.write_bytes(("\r\n".join(lines) % (first, second, third) + "\r\n").encode("cp1252"))
        watch.read(report.run_list_entries(read_run_list(str(path))), written)
    assert watch.windows(100.0, 120.0, engine_started=102.0) == [{"entry": 1, "from": 102.0, "to": 107.0},
                                                                 {"entry": 3, "from": 102.0, "to": 110.0}]
    assert watch.cleaned(100.0, 120.0) == {}

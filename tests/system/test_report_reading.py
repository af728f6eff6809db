"""The report reads a PC's run list as the engine does (through run-list-check --json) and
gives each error-file record to the entry the engine reported, or says it cannot tell."""

import pytest

from vpc import report
from vpc.check import read_run_list

pytestmark = pytest.mark.native

LINE = "OSTREL.DLL, x.exe /s, , 60"
LONG = "OSTREL.DLL, " + "x" * (4095 - 12)
UNRECORDED = "Unable to record the START stamp in the run list: C:\\VELK\\RUN.NUV is missing"
WALKED_TO_FIRST = ("01/02/2024 - 10:00:00 NUV: Started\r\n01/02/2024 - 10:00:01 " + report.GET_ENTRY +
                   "\r\n01/02/2024 - 10:00:01 \tSetting start time\r\n")


def quoted(line):
    return "\t'%s'" % line


# (run list, error file, log, [(line number, the engine's line number, command, result, errors)])
ROWS = [
    # CLEAN written by hand: the engine stamps START and installs, and the install failed.
    (LINE + ", , , , CLEAN 09:00:00", ["Installation Failed", quoted(LINE + ", , START 10:00:01, , CLEAN 09:00:00")],
     None, [(1, 1, "x.exe /s", "install failed",
             ["Installation Failed", quoted(LINE + ", , START 10:00:01, , CLEAN 09:00:00")])]),
    # Two lines alike: the record is of the one the engine left failed, not the finished one.
    (LINE + ", , START 10:00:01, STOP 10:00:02, CLEAN 10:00:02\r\n" + LINE + ", , START 10:00:03",
     ["Installation Failed", quoted(LINE + ", , START 10:00:03")], None,
     [(1, 1, "x.exe /s", "done", []),
      (2, 2, "x.exe /s", "install failed", ["Installation Failed", quoted(LINE + ", , START 10:00:03")])]),
    # Alike and both unstarted on the disk: without a log it cannot be told which...
    (LINE + "\r\n" + LINE, [UNRECORDED, quoted(LINE + ", , START 10:00:01")], None,
     [(n, n, "x.exe /s", "not reached; an error of entry 1 or 2 (the error file cannot tell which)",
       ["(of entry 1 or 2; the error file cannot tell which)", UNRECORDED, quoted(LINE + ", , START 10:00:01")])
      for n in (1, 2)]),
    # ...with one, the walk tells.
    (LINE + "\r\n" + LINE, [UNRECORDED, quoted(LINE + ", , START 10:00:01")], WALKED_TO_FIRST,
     [(1, 1, "x.exe /s", "stamp not recorded", [UNRECORDED, quoted(LINE + ", , START 10:00:01")]),
      (2, 2, "x.exe /s", "not reached", [])]),
    # A line over 4095 characters is two to the engine; the lines after it count one more.
    (LONG + "OSTREL.DLL, b.exe\r\nOSTREL.DLL, caf\xe9 \u20ac.exe\r\n", [], None,
     [(1, 1, "x" * 4083, "not reached", []), (1, 2, "b.exe", "not reached", []),
      (2, 3, "caf\xe9 \u20ac.exe", "not reached", [])]),
]


@pytest.mark.parametrize("run_list, errors, log, expected", ROWS)
def test_entries_and_their_errors_are_read_as_the_engine_reads_and_reports(tmp_path, run_list, errors, log,
                                                                         expected):
    velk = tmp_path / "VELK"
    velk.mkdir()
    (velk / "RUN.NUV").write_bytes(run_list.encode("cp1252"))
    if errors:
        (velk / "nuv.err").write_bytes("\r\n".join(errors + [""]).encode("cp1252"))
    if log:
        (velk / "nuv.log").write_bytes(log.encode("cp1252"))
    model = report.build_model(report.read_velk(str(velk)), "test")
    assert [(e["line_number"], e["engine_line_number"], e["command"], e["result"], e["errors"])
            for e in model["entries"]] == expected


def test_a_list_that_cannot_be_read_is_a_clear_error(tmp_path):
    with pytest.raises(report.VpcError, match="cannot be read"):
        read_run_list(str(tmp_path))


def test_the_rehearsal_shows_the_entry_the_engine_is_at(tmp_path):
    from vpc.rehearse import StampWatch, progress_text

    path = tmp_path / "RUN.NUV"
    watch = StampWatch(str(path), since=0.0)
    shown = []
    for text in (LINE + ", , START 10:00:01, STOP 10:00:02, CLEAN 10:00:02\r\n" + LONG + "OSTREL.DLL, b.exe, , , , "
                 "START 10:00:03", LINE + ", , START 10:00:01, STOP 10:00:02, CLEAN 10:00:02", "# none"):
        path.write_bytes(text.encode("cp1252"))
        watch.look()
        shown.append(progress_text(watch.entries))
    # While the list is between the renames of its rewrite, the last reading stands.
    path.unlink()
    watch.look()
    shown.append(progress_text(watch.entries))
    assert shown == ["entry 3 of 3: OSTREL.DLL b.exe", "1 of 1 entries done", "no entries", "no entries"]

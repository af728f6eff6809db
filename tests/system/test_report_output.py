"""The rules of a report's output folder, the exit codes of `rehearse` and `report`, and
names outside ASCII: what the report tool decides without a virtual PC."""

import errno
import json
import os
import shutil

import pytest

from conftest import REPO, vpc
from vpc import cli, rehearse, report

pytestmark = pytest.mark.native

# A copy of a PC's C:\VELK: a list whose first entry finished, and a name in code page 1252.
RUN_LIST = (b"OSTREL.DLL, C:\\VELK\\APPS\\CAF\xc9\\setup.exe, , 60, , START 09:00:00, STOP 09:00:05, CLEAN 09:00:06\r\n"
            b"OSTREL.DLL, C:\\windows\\system32\\cmd.exe /c exit 0, , 60\r\n")


def make_velk(folder):
    os.makedirs(folder)
    with open(os.path.join(folder, "RUN.NUV"), "wb") as f:
        f.write(RUN_LIST)
    return folder


def files_under(folder):
    """{relative path: bytes or "->target"} of everything below a folder, links not followed."""
    found = {}
    for root, dirs, names in os.walk(folder):
        for name in dirs + names:
            path = os.path.join(root, name)
            relative = os.path.relpath(path, folder)
            if os.path.islink(path):
                found[relative] = "->" + os.readlink(path)
            elif os.path.isfile(path):
                with open(path, "rb") as f:
                    found[relative] = f.read()
    return found


def run_cli(capsys, *args):
    """cli.main's exit code and its standard error, which must be at most one line."""
    code = cli.main(list(args))
    err = capsys.readouterr().err
    assert len(err.splitlines()) <= 1 and "Traceback" not in err, err
    return code, err


def marked(out, *names):
    os.makedirs(out)
    for name in (report.OUTPUT_MARK,) + names:
        os.makedirs(os.path.dirname(os.path.join(out, name)), exist_ok=True)
        with open(os.path.join(out, name), "w") as f:
            f.write("earlier")


def made(out, names, *present):
    """A report's folder whose mark names what this tool made there, holding present."""
    os.makedirs(out)
    with open(os.path.join(out, report.OUTPUT_MARK), "w") as f:
        f.write(report.MARK_TEXT + "".join(report.MADE + name + "\n" for name in names))
    for name in present:
        os.makedirs(os.path.dirname(os.path.join(out, name)), exist_ok=True)
        with open(os.path.join(out, name), "w") as f:
            f.write("earlier")


# (case, how the folder is made from tmp, what is left in out afterwards or None when refused)
FOLDERS = [
    ("new", lambda t: None, [report.OUTPUT_MARK]),
    ("empty", lambda t: os.makedirs(t + "/out"), [report.OUTPUT_MARK]),
    ("an earlier report", lambda t: marked(t + "/out", "report.txt", "screenshots/boot-1.png", "VELK/RUN.NUV"),
     [report.OUTPUT_MARK]),
    # A link of a report's name leads to the user's folder: the link goes, not what it leads to.
    ("a report whose VELK is a link", lambda t: (marked(t + "/out"), os.symlink(t + "/user", t + "/out/VELK")),
     [report.OUTPUT_MARK]),
    ("a report with a file of the user's", lambda t: marked(t + "/out", "report.txt", "notes.txt"), None),
    ("a report's names without the mark", lambda t: (os.makedirs(t + "/out/VELK"), shutil.copy(
        t + "/user/RUN.NUV", t + "/out/VELK/RUN.NUV")), None),
    ("a name that is no UTF-8", lambda t: (marked(t + "/out"), open(os.fsencode(t + "/out/") + b"\xff.txt", "w")),
     None),
    ("a symbolic link to an earlier report", lambda t: (marked(t + "/report"), os.symlink(t + "/report",
                                                                                            t + "/out")), None),
    ("a file", lambda t: shutil.copy(t + "/user/RUN.NUV", t + "/out"), None),
    ("a report that names what it made", lambda t: made(t + "/out", ["report.txt", "VELK"], "report.txt",
                                                        "VELK/RUN.NUV"), [report.OUTPUT_MARK]),
    # The engineer keeps the PC's copy beside its report: a report of report never makes VELK.
    ("a copy of the PC's VELK put beside its report",
     lambda t: made(t + "/out", ["report.txt"], "report.txt", "VELK/RUN.NUV"), None),
    ("a mark that is a link", lambda t: (os.makedirs(t + "/out"), os.symlink(t + "/user/RUN.NUV",
                                                                             t + "/out/" + report.OUTPUT_MARK)), None),
    # An output folder inside an earlier report's: that report's next run would empty it.
    ("inside an earlier report's folder", lambda t: open(t + "/" + report.OUTPUT_MARK, "w").write(report.MARK_TEXT),
     None),
]


@pytest.mark.parametrize("case, make, left", FOLDERS, ids=[row[0] for row in FOLDERS])
def test_an_output_folder_is_emptied_only_when_this_tool_made_it(tmp_path, case, make, left):
    t = str(tmp_path)
    make_velk(t + "/user")
    make(t)
    before = files_under(t)
    if left is None:
        with pytest.raises(vpc.VpcError):
            report.prepare_out(t + "/out")
        assert files_under(t) == before
        return
    report.prepare_out(t + "/out").close()
    assert sorted(os.listdir(t + "/out")) == left
    assert {k: v for k, v in files_under(t).items() if k.startswith("user")} == {
        k: v for k, v in before.items() if k.startswith("user")}


# (--out, the folder given to report) relative to tmp: each lies in or around the other.
NESTED = [("pc17", "pc17/VELK"), ("pc17/VELK/out", "pc17/VELK"), ("pc17/VELK", "pc17/VELK"),
          ("pc17/link/out", "pc17/VELK")]


@pytest.mark.parametrize("out, velk", NESTED)
def test_an_output_folder_in_or_around_what_the_report_reads_is_refused(tmp_path, capsys, out, velk):
    make_velk(str(tmp_path / velk))
    os.symlink(str(tmp_path / velk), str(tmp_path / "pc17" / "link"))
    before = files_under(str(tmp_path))
    code, err = run_cli(capsys, "report", str(tmp_path / velk), "--out", str(tmp_path / out))
    assert code == 2 and "lies inside" in err
    assert files_under(str(tmp_path)) == before


@pytest.mark.parametrize("out", ["list/out", "list/src/C/out", ".", "list/src/.."])
def test_a_rehearsal_keeps_its_output_apart_from_the_list_and_the_sources(tmp_path, capsys, out):
    os.makedirs(str(tmp_path / "list" / "src" / "C"))
    shutil.copy(make_velk(str(tmp_path / "velk")) + "/RUN.NUV", str(tmp_path / "list"))
    code, err = run_cli(capsys, "rehearse", str(tmp_path / "list" / "RUN.NUV"), "--sources",
                        str(tmp_path / "list" / "src"), "--out", str(tmp_path / out))
    assert code == 2 and "lies inside" in err
    assert not os.path.exists(str(tmp_path / "list" / "src" / "C" / "out" / "check.txt"))


def test_a_folder_being_written_is_refused_to_a_second_report(tmp_path, capsys):
    velk = make_velk(str(tmp_path / "VELK"))
    out = str(tmp_path / "out")
    with report.prepare_out(out):
        code, err = run_cli(capsys, "report", velk, "--out", out)
        assert code == 2 and "being written by another report" in err
    code, err = run_cli(capsys, "report", velk, "--out", out)
    assert code == 1 and err == ""


def test_default_output_folders_are_one_per_list_and_machine():
    rehearsals = os.path.join(REPO, "build", "rehearsal")
    names = [os.path.relpath(cli.rehearsal_out(*row), rehearsals).rsplit("-", 1)[0] for row in (
        ("mylist/RUN.NUV", "win32", "nt"), ("lists/run.nuv", "win64", "nt"), ("lists/Alpha.NUV", "win32", "9x"),
        ("my list/RUN.NUV", "win32", "nt"), ("caf\u00e9/RUN.NUV", "win32", "nt"))]
    assert names == ["mylist-win32-nt", "lists-win64-nt", "Alpha-win32-9x", "my_list-win32-nt", "caf\u00e9-win32-nt"]
    # Two customers' lists of the same name, and two copies of PCs of the same name, apart.
    assert cli.rehearsal_out("custA/VELK/RUN.NUV", "win32", "nt") != cli.rehearsal_out("custB/VELK/RUN.NUV", "win32",
                                                                                        "nt")
    assert cli.report_out("line1/pc17/VELK") != cli.report_out("line2/pc17/VELK")
    assert os.path.basename(cli.report_out("pc17/VELK")).startswith("pc17-VELK-")


def fail_writing(error):
    def write_report(model, out):
        raise error
    return write_report


# (case, the command line's words after the tool's folder names, what breaks, what stderr says)
EXITS = [
    ("a folder without RUN.NUV", ["report", "{tmp}/empty"], None, "holds no RUN.NUV"),
    ("a missing folder", ["report", "{tmp}/missing"], None, "no such folder"),
    ("a missing a:\\LOG", ["report", "{tmp}/VELK", "--a-log", "{tmp}/LOG"], None, "no such file"),
    ("--out a symbolic link", ["report", "{tmp}/VELK", "--out", "{tmp}/link"], None, "is a symbolic link"),
    ("a full disk", ["report", "{tmp}/VELK", "--out", "{tmp}/out"],
     OSError(errno.ENOSPC, "No space left on device", "report.html"), "No space left on device: report.html"),
    ("a read-only folder", ["report", "{tmp}/VELK", "--out", "{tmp}/out"],
     PermissionError(errno.EACCES, "Permission denied", "report.json"), "Permission denied: report.json"),
    ("a failed copy", ["report", "{tmp}/VELK", "--out", "{tmp}/out"],
     shutil.Error([("a", "b", "[Errno 5] Input/output error"), ("c", "d", "x")]),
     "copying a to b failed: [Errno 5] Input/output error (and 1 more)"),
    ("a missing run list", ["rehearse", "{tmp}/RUN.NUV", "--sources", "{tmp}"], None, "no such file"),
    ("a 64-bit 9x PC", ["rehearse", "{tmp}/VELK/RUN.NUV", "--sources", "{tmp}", "--arch", "win64", "--family", "9x"],
     None, "NT family only"),
    ("a time limit of 0", ["rehearse", "{tmp}/VELK/RUN.NUV", "--sources", "{tmp}", "--time-limit", "0"], None,
     "above 0"),
]


@pytest.mark.parametrize("case, words, error, says", EXITS, ids=[row[0] for row in EXITS])
def test_an_error_of_the_tool_ends_with_exit_code_2_and_one_line(tmp_path, capsys, monkeypatch, case, words, error,
                                                                 says):
    t = str(tmp_path)
    make_velk(t + "/VELK")
    os.makedirs(t + "/empty")
    os.symlink(t + "/empty", t + "/link")
    if error is not None:
        monkeypatch.setattr(report, "write_report", fail_writing(error))
    code = cli.main([w.format(tmp=t) for w in words])
    err = capsys.readouterr().err
    assert code == 2 and says in err and "Traceback" not in err, err
    if case != "a time limit of 0":  # argparse adds its usage line
        assert len(err.splitlines()) == 1, err


def test_names_outside_ascii_and_names_that_are_no_utf8_reach_the_report(tmp_path, capsys):
    assert report.decode_text(b"caf\xe9 \x80 \x81\x9f") == "caf\u00e9 \u20ac \x81\u0178"
    # A copy of C:\VELK in a folder whose Linux name is no UTF-8, holding such a file too.
    folder = os.path.join(os.fsencode(str(tmp_path)), b"pc\xff")
    velk = make_velk(os.fsdecode(os.path.join(folder, b"VELK")))
    open(os.path.join(os.fsencode(velk), b"\xff.txt"), "w").close()
    with open(os.path.join(velk, "nuv.err"), "wb") as f:
        f.write(b"Installation Failed \x80\xe9\r\n")
    out = str(tmp_path / "out")
    assert cli.main(["report", velk, "--out", out]) == 1
    assert "CAF\u00c9" in capsys.readouterr().out
    with open(os.path.join(out, "report.json"), encoding="utf-8") as f:
        model = json.load(f)
    assert model["entries"][0]["command"] == "C:\\VELK\\APPS\\CAF\u00c9\\setup.exe"
    assert model["error_lines"] == ["Installation Failed \u20ac\u00e9"]
    assert model["velk_folder"].endswith("pc\ufffd" + os.sep + "VELK")
    with open(os.path.join(out, "report.html"), encoding="utf-8") as f:
        assert "CAF\u00c9" in f.read()


def test_links_in_the_sources_are_followed_and_one_that_leads_nowhere_is_an_error(tmp_path):
    drive = tmp_path / "C"
    (drive / "APPS").mkdir(parents=True)
    (tmp_path / "elsewhere").mkdir()
    (tmp_path / "elsewhere" / "setup.exe").write_bytes(b"MZ")
    (drive / "APPS" / "TOOL").symlink_to(tmp_path / "elsewhere")
    (drive / "APPS" / "one.msi").symlink_to(tmp_path / "elsewhere" / "setup.exe")
    assert rehearse.source_entries(str(drive), "C:\\") == [
        ("C:\\APPS", None), ("C:\\APPS\\TOOL", None), ("C:\\APPS\\one.msi", str(drive / "APPS" / "one.msi")),
        ("C:\\APPS\\TOOL\\setup.exe", str(drive / "APPS" / "TOOL" / "setup.exe"))]
    for name, target, says in (("gone.msi", "nowhere.msi", "which does not exist"),
                               ("again", str(drive), "a folder that holds it")):
        (drive / "APPS" / name).symlink_to(tmp_path / target)
        with pytest.raises(vpc.VpcError, match=says):
            rehearse.source_entries(str(drive), "C:\\")
        (drive / "APPS" / name).unlink()

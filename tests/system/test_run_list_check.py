"""scripts/vpc check: a run list read as the engine will read it, without running it."""

import json
import os
import subprocess

import pytest

from conftest import REPO

pytestmark = pytest.mark.native


def check(*args):
    return subprocess.run([os.path.join(REPO, "scripts", "vpc"), "check", *args], capture_output=True, text=True,
                          timeout=600)


def test_sample_is_clean_and_faults_are_reported_by_line(tmp_path):
    assert check(os.path.join(REPO, "package", "RUN.NUV")).returncode == 0

    sources = tmp_path / "sources"
    (sources / "C" / "VELK" / "APPS" / "TOOL").mkdir(parents=True)
    (sources / "C" / "VELK" / "APPS" / "TOOL" / "setup.exe").write_bytes(b"MZ")
    run_list = tmp_path / "RUN.NUV"
    run_list.write_bytes(b"# prepared\r\nOSTREL.DLL, C:\\VELK\\APPS\\TOOL\\SETUP.EXE, C:\\VELK\\APPS\\TOOL, 60\r\n"
                         b"OSTREL.DLL, C:\\VELK\\APPS\\GONE\\SETUP.EXE, , 60, restart\r\n")
    result = check(str(run_list), "--sources", str(sources))
    assert result.returncode == 1, result
    assert result.stdout.splitlines() == [
        "%s:3: error: program C:\\VELK\\APPS\\GONE\\SETUP.EXE is not among the sources" % run_list,
        "%s:3: warning: fifth field 'restart' is not REBOOT: no restart, and the engine's rewrite drops it" % run_list,
        "1 error, 1 warning"]
    # Warnings alone pass.
    run_list.write_bytes(b"OSTREL.DLL, C:\\VELK\\APPS\\TOOL\\SETUP.EXE, , 60, restart\r\n")
    assert check(str(run_list), "--sources", str(sources)).returncode == 0
    assert check(str(tmp_path / "missing.nuv")).returncode == 2


def test_many_lists_are_read_in_one_run_one_line_each():
    checker = os.path.join(REPO, "build", "host", "tools", "run_list_check", "run-list-check")
    lists = [b"OSTREL.DLL, C:\\A.EXE, , 60, , START 09:00:00\r\n", b"", b"# only a remark\n\xe9, x\n"]
    result = subprocess.run([checker, "--json-batch"], input=b"".join(b"%d\n" % len(x) + x for x in lists),
                            capture_output=True, timeout=60)
    assert result.returncode == 0, result.stderr
    readings = [json.loads(line) for line in result.stdout.decode().split("\n")[:-1]]
    assert [len(r["entries"]) for r in readings] == [1, 0, 1]
    assert readings[0]["entries"][0]["stamps"]["START"] == "START 09:00:00"
    assert readings[2]["entries"][0]["wrapper"] == "\u00e9"
    # Input not of the form: refused, with what was read until then.
    for bad in (b"x\n", b"10\nshort", b"-1\n", b"99999999999\n"):
        result = subprocess.run([checker, "--json-batch"], input=b"3\nA,B" + bad, capture_output=True, timeout=60)
        assert result.returncode == 2 and result.stderr.startswith(b"--json-batch: "), (bad, result)
        assert len(result.stdout.splitlines()) == 1

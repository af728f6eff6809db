"""scripts/vpc check: a run list read as the engine will read it, without running it."""

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

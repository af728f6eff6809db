"""The product's main job, as a newcomer runs it: scripts/demo and its report."""

import os
import subprocess
import sys

from conftest import REPO


def test_demo_installs_everything_across_a_restart_and_removes_the_engine():
    # The test run has just built everything: the demo uses that build.
    result = subprocess.run([sys.executable, os.path.join(REPO, "scripts", "demo"), "--no-build"],
                            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            text=True, timeout=900)
    report = result.stdout
    assert result.returncode == 0, report
    assert report.count("START ") == 3 and report.count("STOP ") == 3 and report.count("CLEAN ") == 3, report
    assert "clean-up folder C:\\VELK\\APPS\\NOTES: gone" in report
    assert "Restarts: 2 (boots: 3)" in report
    assert "Errors: none" in report
    assert "file     C:\\Program Files\\Velk Notes\\readme.txt" in report
    assert "Uninstall\\VelkNotes\\DisplayName = Velk Notes" in report
    assert "file     C:\\VelkDemo\\config.txt" in report
    assert "registry HKLM\\Software\\VelkDemo\\Finished = yes" in report
    assert "finished mark C:\\Velk\\nuv.dun: present" in report
    assert "C:\\Velk\\NUV\\NUV.exe: removed" in report
    assert "Run values left: none" in report
    log = report.split("Engine log: ")[1].split("\n")[0]
    screenshot = report.split("Screenshot of the progress window: ")[1].split("\n")[0]
    with open(log, "rb") as f:
        assert f.read().count(b"NUV: Started") == 2
    with open(screenshot, "rb") as f:
        assert f.read(8) == b"\x89PNG\r\n\x1a\n"

"""The product's main job, as a newcomer runs it: scripts/demo, a rehearsal of the sample list, and its
report."""

import os
import subprocess
import sys

import pytest

from conftest import REPO, vpc


def rect(text):
    left, top, right, bottom = (int(n) for n in text.split(","))
    return {"left": left, "top": top, "right": right, "bottom": bottom}


@pytest.mark.slow
def test_demo_installs_everything_across_a_restart_and_removes_the_engine(arch):
    # The test run has just built everything: the demo uses that build.
    result = subprocess.run([sys.executable, os.path.join(REPO, "scripts", "demo"), "--no-build", "--arch", arch],
                            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            text=True, timeout=900)
    report = result.stdout
    assert result.returncode == 0, report
    assert report.count("START ") == 4 and report.count("STOP ") == 4 and report.count("CLEAN ") == 4, report
    assert "clean-up folder C:\\VELK\\APPS\\NOTES: gone" in report
    assert "clean-up folder C:\\VELK\\APPS\\TOOLS: gone" in report
    assert "\n      C:\\Program Files\\Velk Tools\\readme.txt\n" in report
    assert "Restarts: 2 (boots: 3)" in report
    assert "Errors: none" in report
    assert "\n      C:\\Program Files\\Velk Notes\\readme.txt\n" in report
    assert "Uninstall\\VelkNotes\\DisplayName = Velk Notes" in report
    assert "\n      C:\\VelkDemo\\config.txt\n" in report
    assert "\n      HKLM\\Software\\VelkDemo\\Finished = yes\n" in report
    assert "finished mark C:\\Velk\\nuv.dun: present" in report
    assert "C:\\Velk\\NUV\\NUV.exe: removed" in report
    assert "Run values left: none" in report
    log = report.split("Engine log: ")[1].split("\n")[0]
    with open(log, "rb") as f:
        assert f.read().count(b"NUV: Started") == 2
    # The picture shows the window a person sees: painted, its text drawn.
    assert ", the progress window: " in report, report
    shot = report.split(", the progress window: ")[1].split("\n")
    place = shot[1].split("window at ")[1]
    window = rect(place.split(" ")[0])
    text = rect(place.split("its text at ")[1])
    width, height, rows = vpc.read_png(shot[0])
    assert (width, height) == (1024, 768)
    assert window["right"] == 1024 and window["top"] == 0
    assert vpc.shows_text(rows, text)
    assert vpc.shows_text(rows, window)

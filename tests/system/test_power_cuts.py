"""A short power-cut campaign: ten cuts at random moments of factory installations, with
a scanner holding files all through; nothing may be lost (scripts/fault-campaign runs
the long one)."""

import os

import pytest

from conftest import BUILDS, built

from vpc import campaign


@pytest.mark.slow
def test_ten_power_cuts_lose_nothing(artefacts, arch):
    for name in ("engine/NUV.exe", "wrappers/command/Ostrel.dll", "fixtures/task_exit.exe", "fixtures/scanner.exe"):
        built(name, arch)
    result = campaign.run_campaign(10, seed=1, arch=arch, build_dir=BUILDS[arch],
                                   out_dir=os.path.join(artefacts, "fault-campaign-" + arch), report=lambda line: None)
    table = result.table()
    with open(os.path.join(artefacts, "fault-campaign-%s.txt" % arch), "w") as f:
        f.write(table + "\n")
    assert sum(result.cuts.values()) == 10
    assert result.violations == [], table

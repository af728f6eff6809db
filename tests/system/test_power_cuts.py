"""Short power-cut campaigns: ten cuts at random moments of factory installations, and ten
while Hobrint rewrites the run list on the 9x family, with a scanner holding files all
through; nothing may be lost (scripts/fault-campaign runs the long ones)."""

import os

import pytest

from conftest import BUILDS, built

from vpc import campaign, fixup_campaign


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


@pytest.mark.slow
@pytest.mark.win32_only("the 9x family is 32-bit only")
def test_ten_cuts_during_hobrints_rewrite_on_the_9x_family_lose_nothing(artefacts, arch):
    for name in ("utilities/hobrint/Hobrint.exe", "fixtures/scanner.exe"):
        built(name, arch)
    out_dir = os.path.join(artefacts, "fault-campaign-hobrint-9x")
    result = fixup_campaign.run_fixup_campaign(10, seed=1, family="9x", arch=arch, build_dir=BUILDS[arch],
                                               out_dir=out_dir, report=lambda line: None)
    table = result.table()
    with open(os.path.join(artefacts, "fault-campaign-hobrint-9x.txt"), "w") as f:
        f.write(table + "\n")
    assert result.during() == 10
    assert result.violations == [], table

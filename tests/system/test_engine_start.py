"""The real NUV.exe in a virtual PC: a start that leaves at once."""

import os

import pytest

from conftest import built

LOG = r"c:\velk\nuv.log"


def install_engine(pc):
    pc.put_file(r"C:\Velk\NUV\NUV.exe", source=built(os.path.join("engine", "NUV.exe"), pc.arch))
    pc.put_file(r"c:\velk\nuv\nuvlog.tag", b"")


@pytest.mark.win32_only("the 9x family is 32-bit only")
def test_finished_mark_ends_the_start_before_the_banner(make_pc):
    pc = make_pc(family="9x")
    install_engine(pc)
    pc.put_file(r"C:\Velk\nuv.dun", b"")
    assert pc.run(r"C:\Velk\NUV\NUV.exe", timeout=60).code == 0
    assert not pc.exists(LOG)

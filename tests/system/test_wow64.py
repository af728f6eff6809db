"""The 32-bit build on a 64-bit Windows: Windows shows it the 32-bit view of the registry,
so its Run values must be created in that view (Wow6432Node)."""

import os

import pytest

from conftest import built, vpc
from engine_pc import ENGINE, ERR, RUN_LIST, RUN_VALUES

FINISHED = r"C:\Velk\nuv.dun"


@pytest.fixture
def pc64():
    able, why = vpc.can_run("win64")
    if not able:
        pytest.skip("64-bit case: " + why)
    pc = vpc.VirtualPC(arch="win64")
    yield pc
    pc.close()


# The 32-bit build (arch) in a 64-bit PC.
@pytest.mark.parametrize("arch", ["win32"])
@pytest.mark.parametrize("view, clean", [("32", True), ("64", False)])
def test_the_32bit_engine_deletes_run_values_of_the_32bit_view_only(pc64, arch, view, clean):
    pc = pc64
    pc.put_file(ENGINE, source=built(os.path.join("engine", "NUV.exe"), arch))
    pc.put_file(r"C:\Velk\NUV\OSTREL.DLL", source=built(os.path.join("wrappers", "command", "Ostrel.dll"), arch))
    pc.put_file(RUN_LIST, "OSTREL.DLL, C:\\windows\\system32\\cmd.exe /c echo done> C:\\VELKTEST\\done.txt, , 60\r\n")
    pc.make_dir(r"C:\VELKTEST")
    pc.put_file(r"c:\velk\nuv\devMode.bin", bytes(20))
    for name in RUN_VALUES:
        pc.set_reg(vpc.RUN_KEY, name, ENGINE if name == "Velk NUV" else r"C:\Velk\NUV\absent.exe", view=view)

    pc.boot()
    pc.wait_idle(timeout=240)

    # Windows starts the programs of both views: the entry is installed either way.
    assert pc.exists(r"C:\VELKTEST\done.txt")
    assert pc.exists(FINISHED)
    left = [name for name in RUN_VALUES if pc.get_reg(vpc.RUN_KEY, name, view=view) is not None]
    if clean:
        assert not pc.exists(ERR), pc.read_file(ERR)
        assert left == []
    else:
        # Out of the engine's reach: left behind, and the clean-up reports it.
        assert left == list(RUN_VALUES)
        assert "Registry Error" in pc.read_file(ERR).decode("latin-1")

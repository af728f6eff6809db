"""InstallShield set-ups through Brakkis.dll in a whole virtual PC: the result from the
set-up's log, the wait for its helper process, and a failing set-up."""

import os
import re

from conftest import built
from engine_pc import ENGINE, ERR, RUN_LIST, prepare

RECORD = r"C:\VELK\fake_setup.txt"


def test_setups_install_wait_for_their_helper_and_a_failure_stops_the_walk(make_pc):
    pc = make_pc()
    entries = [r"BRAKKIS.DLL, C:\IS\ONE\SETUP.EXE /code=0 /ikernel=7000, C:\IS\ONE, 120",
               r"BRAKKIS.DLL, C:\IS\TWO\SETUP.EXE /code=0, C:\IS\TWO",
               r"BRAKKIS.DLL, C:\IS\THREE\SETUP.EXE /code=-3",
               r"BRAKKIS.DLL, C:\IS\FOUR\SETUP.EXE /code=0"]
    prepare(pc, "".join(entry + "\r\n" for entry in entries))
    pc.put_file(r"C:\Velk\NUV\BRAKKIS.DLL", source=built(os.path.join("wrappers", "installshield", "Brakkis.dll"), pc.arch))
    for folder in ("ONE", "TWO", "THREE", "FOUR"):
        pc.put_file("C:\\IS\\%s\\SETUP.EXE" % folder, source=built(os.path.join("fixtures", "fake_setup.exe"), pc.arch))
    pc.boot()
    pc.wait_idle(timeout=300)

    record = pc.read_file(RECORD).decode("latin-1").split("\r\n")
    runs = [line for line in record if line.startswith("run ")]
    assert runs == ["run C:\\IS\\ONE\\SETUP.EXE /code=0 /ikernel=7000 /SMS /S",
                    "run C:\\IS\\TWO\\SETUP.EXE /code=0 /SMS /S",
                    "run C:\\IS\\THREE\\SETUP.EXE /code=-3 /SMS /S"]
    # The helper left behind by the first set-up was gone before the second one ran.
    assert record.index("ikernel end") < record.index(runs[1])
    # Seen at the first checks, 5 seconds apart (how many depends on the machine's pace).
    log = pc.read_file("a:\\LOG").decode("latin-1")
    assert re.search(r"INS PRE CLEAN DELAYS [12] : C:\\IS\\ONE\\SETUP\.EXE /code=0 /ikernel=7000 /SMS /S\r\n", log), log
    # Installed entries are stamped and their sources gone; the failing one stops the walk.
    lines = pc.read_file(RUN_LIST).decode("latin-1").split("\r\n")
    assert [l.count("START ") + l.count("STOP ") + l.count("CLEAN ") for l in lines[:4]] == [3, 3, 1, 0]
    assert not pc.exists(r"C:\IS\ONE") and not pc.exists(r"C:\IS\TWO")
    errors = pc.read_file(ERR).decode("latin-1")
    assert errors.startswith("Error InstallShield install failed: C:\\IS\\THREE\\SETUP.EXE /code=-3 /SMS /S "
                             "Error Code: -3\r\nInstallation Failed\r\n\t'BRAKKIS.DLL, C:\\IS\\THREE\\SETUP.EXE "
                             "/code=-3, , , , START "), errors
    assert not pc.exists(ENGINE)

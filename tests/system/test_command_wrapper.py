"""Plain commands through Ostrel.dll in a whole virtual PC: failures and time-outs."""

import os

import pytest

from conftest import built, install_fixture
from engine_pc import ENGINE, ERR, log_text, prepare

OSTREL = r"C:\Velk\NUV\OSTREL.DLL"


def prepare_commands(pc, entries):
    prepare(pc, "".join("OSTREL.DLL, %s\r\n" % entry for entry in entries))
    pc.put_file(OSTREL, source=built(os.path.join("wrappers", "command", "Ostrel.dll"), pc.arch))
    return install_fixture(pc, "task_exit.exe")


@pytest.mark.parametrize("case", ["exit code", "time-out"])
def test_a_failing_command_stops_the_walk_after_its_entry(make_pc, case):
    pc = make_pc()
    task = r"C:\fixtures\task_exit.exe"
    first = task + (" 2" if case == "exit code" else " 0 600000")
    prepare_commands(pc, ["%s, , %d" % (first, 60 if case == "exit code" else 2),
                          r"%s 0 0 C:\VELKTEST\second.pid" % task])
    pc.boot()
    # Idle means every program has ended: a task past its time-out is not left running.
    pc.wait_idle(timeout=300)

    errors = pc.read_file(ERR).decode("latin-1")
    wrapper_line = ("Error returned from CreateProcess on task '%s', exit code: 2\r\n" % first
                    if case == "exit code" else "Timeout on spanwed task '%s', exit code: 0\r\n" % first)
    assert errors.startswith(wrapper_line + "Installation Failed\r\n\t'OSTREL.DLL, %s, , " % first)
    assert errors.count(wrapper_line) == 1
    assert not pc.exists(r"C:\VELKTEST\second.pid")
    # One more final pass after the failure, then the engine's own clean-up.
    assert "errors encountered.  Setting RANONCE.NUV." in log_text(pc)
    assert not pc.exists(ENGINE)

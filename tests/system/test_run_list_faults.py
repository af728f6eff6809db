"""Progress that cannot be recorded in the run list: the walk stops with an error rather
than install anything twice, the list keeps every line, and the PC comes to rest."""

import pytest

from conftest import install_fixture
from engine_pc import CALLS, ENGINE, ERR, RUN_LIST, log_text, plugin, prepare

HOLDER = r"C:\fixtures\hold_file.exe"
TOO_LONG = "the line with its stamps would be longer than 4095 characters"
HELD = r"C:\VELK\~RUN.NUV could not take the place of C:\VELK\RUN.NUV (Error Number: 32)"


@pytest.mark.parametrize("fault", [
    "rewrite held by a scanner",
    pytest.param("rewrite held by a scanner, 9x", marks=pytest.mark.win32_only("the 9x family is 32-bit only")),
    "entry too long for its stamps"])
def test_a_stamp_that_cannot_be_recorded_stops_the_run_without_losing_a_line(make_pc, fault):
    # The 9x family has no one-step replacement: the list steps aside for its rewrite
    # and, the rewrite held, comes back.
    pc = make_pc(family="9x" if fault.endswith("9x") else "nt")
    wrapper = plugin("scripted_wrapper.dll")
    if fault.startswith("rewrite held by a scanner"):
        # The holder opens the rewrite file before the engine starts, after every boot,
        # and keeps it open as long as the engine runs.
        entries = ["%s,first,,30" % wrapper, "%s,second,,,REBOOT" % wrapper, "%s,third" % wrapper]
        prepare(pc, "", engine_command="%s C:\\VELK\\~RUN.NUV %s" % (HOLDER, ENGINE))
        install_fixture(pc, "hold_file.exe")
        reason = HELD
    else:
        # About 4,080 characters: within the line limit, but not with its stamps.
        entries = ["%s,%s,,,REBOOT" % (wrapper, "x" * 4040), "%s,second" % wrapper]
        assert len(entries[0]) < 4095
        prepare(pc, "")
        reason = TOO_LONG
    original = "".join(entry + "\r\n" for entry in entries)
    pc.put_file(RUN_LIST, original)

    pc.boot()
    pc.wait_idle(timeout=300)

    # Every line is still there, in its order, as it was.
    assert pc.read_file(RUN_LIST).decode("latin-1") == original
    assert not pc.exists(r"C:\VELK\~RUN.OLD")
    # The first entry as the engine would have written it with its START stamp.
    fields = (entries[0].split(",") + [""] * 5)[:5]
    fields[4] = "REBOOT" if fields[4].upper() == "REBOOT" else ""
    stamped = ", ".join(fields) + ", START "
    errors = pc.read_file(ERR).decode("latin-1")
    message = "Unable to record the START stamp in the run list: %s\r\n\t'%s" % (reason, stamped)
    # Once in each of the two passes: the failed one, and the final one that cleans up.
    assert errors.count(message) == 2, errors
    assert "install" not in (pc.read_file(CALLS).decode() if pc.exists(CALLS) else "")
    log = log_text(pc)
    assert log.count("NUV: Started") == 2
    assert "errors encountered.  Setting RANONCE.NUV." in log
    # Two engine passes and the restart after the clean-up: then the PC is at rest.
    assert pc.boot_count() == 3
    assert pc.exists(r"C:\Velk\nuv.dun")

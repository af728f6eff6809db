"""The real NUV.exe in a virtual PC: what one start does before any package."""

import os

from conftest import built

LOG = r"c:\velk\nuv.log"


def install_engine(pc):
    pc.put_file(r"C:\Velk\NUV\NUV.exe", source=built(os.path.join("engine", "NUV.exe")))
    pc.put_file(r"c:\velk\nuv\nuvlog.tag", b"")


def test_run_mode_with_an_empty_run_list_walks_nothing_and_ends(make_pc):
    pc = make_pc()
    install_engine(pc)
    pc.put_file(r"C:\VELK\RUN.NUV", b"# nothing to install\r\n")
    result = pc.run(r"C:\Velk\NUV\NUV.exe", timeout=60)
    assert result.code == 0
    log = pc.read_file(LOG).decode("latin-1")
    assert "NUV: Started -=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-\r\n\r\n" in log
    order = ["CNUVApp: Called with no parameters.  Entering RUN mode",
             "CNUVApp:: calling CNUVDlg.DoModal(...).",
             "CControlManager::InstallApplications(...) called",
             "CControlManager::InstallApplications(...) UnloadWrappers(...) being called",
             "CNUVApp:: CNUVDlg.DoModal(...) returned.",
             "CNUVApp:: Mutex handle closed.",
             "CNUVApp:: Returning FALSE from InitInstance(...)."]
    positions = [log.find(line + "\r\n") for line in order]
    assert -1 not in positions, log
    assert positions == sorted(positions)
    assert not pc.exists(r"c:\velk\nuv.err")


def test_finished_mark_ends_the_start_before_the_banner(make_pc):
    pc = make_pc(family="9x")
    install_engine(pc)
    pc.put_file(r"C:\Velk\nuv.dun", b"")
    assert pc.run(r"C:\Velk\NUV\NUV.exe", timeout=60).code == 0
    assert not pc.exists(LOG)

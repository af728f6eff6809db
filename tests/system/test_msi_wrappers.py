"""Windows Installer packages built with wixl, installed by Wine's msiexec through
Quillan.dll and Sorvane.dll, and the redirection of their source lists."""

import os

import pytest

from conftest import built, install_fixture
from engine_pc import ERR, log_text, prepare

NT_PRODUCTS = r"HKLM\Software\Classes\Installer\Products"
PRODUCTS_9X = r"HKU\.DEFAULT\Software\Microsoft\Installer\Products"
TAG = r"c:\velk\nuv\srcredir.tag"
SRCREDIR_LOG = r"c:\velk\nuv\srcredir.log"
SPY_RECORD = r"C:\VELK\msiexec.txt"


def prepare_msi(pc, run_list, packages=("Alpha",)):
    prepare(pc, run_list)
    # Development mode with the engine's clean-up off: it would delete the redirection's
    # tag and log with the engine's other files.
    pc.put_file(r"c:\velk\nuv\devMode.bin", b"\0\0\0\0\1" + bytes(15))
    for library in ("Quillan", "Sorvane"):
        pc.put_file("C:\\Velk\\NUV\\%s.DLL" % library.upper(), source=built(os.path.join("wrappers", "msi", library + ".dll"), pc.arch))
    for name in packages:
        pc.put_file("C:\\APPS\\%s\\%s.MSI" % (name.upper(), name.upper()),
                    source=built(os.path.join("fixtures", "packages", name + ".msi"), pc.arch))


def register(pc, root, product, folder):
    """A product registration of the test's own, with one Net source."""
    pc.set_reg(root + "\\" + product + r"\SourceList\Net", "1", folder, kind="REG_EXPAND_SZ")
    pc.set_reg(root + "\\" + product + r"\SourceList\Media", "1", "DISK1;1")


def installed_product(pc, name):
    """The registration key of the installed product with that name."""
    for product in pc.subkeys(NT_PRODUCTS) or []:
        if pc.get_reg(NT_PRODUCTS + "\\" + product, "ProductName") == name:
            return NT_PRODUCTS + "\\" + product
    return None


def records(pc):
    """The redirection log's records without their time stamps."""
    text = pc.read_file(SRCREDIR_LOG).decode("latin-1") if pc.exists(SRCREDIR_LOG) else ""
    return [line[22:] for line in text.split("\r\n") if line]


def test_quillan_installs_a_package_and_deletes_only_its_own_source(make_pc):
    pc = make_pc()
    prepare_msi(pc, "QUILLAN.DLL, C:\\APPS\\ALPHA\\ALPHA.MSI, , 300\r\n")
    pc.put_file(TAG, b"")
    # Another product, from a folder whose name begins like the package's folder.
    register(pc, NT_PRODUCTS, "VELKOTHER", "c:\\apps\\alphabet\\")
    pc.boot()
    pc.wait_idle(timeout=240)

    assert not pc.exists(ERR), pc.read_file(ERR)
    assert pc.exists(r"C:\Program Files\Velk Alpha\readme.txt")
    product = installed_product(pc, "Velk Alpha")
    assert product, "Velk Alpha is not registered"
    net = pc.query_key(product + r"\SourceList\Net") or {}
    assert not any(value.upper().startswith(r"C:\APPS\ALPHA") for _, value in net.values()), net
    assert pc.get_reg(NT_PRODUCTS + r"\VELKOTHER\SourceList\Net", "1") == "c:\\apps\\alphabet\\"
    assert r"SRCREDIR: Found C:\APPS\ALPHA\ in Net key... Deleting..." in records(pc)
    assert "SRCREDIR: WinNT OS detected..." in records(pc)


def test_sorvane_without_the_tag_logs_only_why_and_judges_the_exit_code(make_pc):
    pc = make_pc()
    prepare_msi(pc, "SORVANE.DLL, C:\\APPS\\BETA\\BETA.MSI\r\nSORVANE.DLL, C:\\APPS\\NONE\\NONE.MSI\r\n",
                packages=("Beta",))
    pc.boot()
    pc.wait_idle(timeout=240)

    assert pc.exists(r"C:\Program Files\Velk Beta\readme.txt")
    product = installed_product(pc, "Velk Beta")
    assert product and pc.query_key(product + r"\SourceList\Net"), "the source list is untouched"
    assert records(pc) == ["SRCREDIR: Started -=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-",
                           "SRCREDIR: Failed to locate srcredir.tag.  Redirection not performed."]
    # The missing package: msiexec's failing exit code is reported, the entry fails.
    errors = pc.read_file(ERR).decode("latin-1")
    task = "MSIEXEC /I C:\\APPS\\NONE\\NONE.MSI REBOOT=ReallySuppress /qn"
    assert errors.startswith("Error returned from CreateProcess on task '%s', exit code: " % task), errors
    assert "exit code: 0\r\n" not in errors
    assert "Installation Failed\r\n\t'SORVANE.DLL, C:\\APPS\\NONE\\NONE.MSI, , , , START " in errors


@pytest.mark.win32_only("the 9x family is 32-bit only")
def test_on_the_9x_family_the_products_are_looked_for_under_the_default_user(make_pc):
    pc = make_pc(family="9x")
    prepare_msi(pc, "QUILLAN.DLL, C:\\APPS\\ALPHA\\ALPHA.MSI\r\n")
    pc.put_file(TAG, b"")
    register(pc, PRODUCTS_9X, "VELKALPHA", "C:\\APPS\\ALPHA\\")
    register(pc, PRODUCTS_9X, "VELKOTHER", "c:\\apps\\alphabet\\")
    pc.boot()
    pc.wait_idle(timeout=240)

    assert not pc.exists(ERR), pc.read_file(ERR)
    assert pc.get_reg(PRODUCTS_9X + r"\VELKALPHA\SourceList\Net", "1") is None
    assert pc.get_reg(PRODUCTS_9X + r"\VELKOTHER\SourceList\Net", "1") == "c:\\apps\\alphabet\\"
    assert "SRCREDIR: Win9x OS detected..." in records(pc)
    assert "SRCREDIR: Attempting to redirect LastUsedSource to \\Media entry for VELKALPHA" in records(pc)


def test_an_unreadable_windows_installer_version_fails_the_entry_and_runs_nothing(make_pc):
    pc = make_pc()
    prepare_msi(pc, "QUILLAN.DLL, C:\\APPS\\ALPHA\\ALPHA.MSI\r\n")
    # The library's own file, without a version resource; Wine reads the file only when
    # told to prefer it to its built-in one.
    pc.put_file(r"C:\windows\system32\msi.dll", b"not a library")
    pc.set_reg(r"HKCU\Software\Wine\DllOverrides", "msi", "native")
    pc.put_file(r"C:\Velk\NUV\MSIEXEC.EXE", source=built(os.path.join("fixtures", "msiexec_spy.exe"), pc.arch))
    pc.boot()
    pc.wait_idle(timeout=240)

    errors = pc.read_file(ERR).decode("latin-1")
    assert errors.startswith("Unable to retrieve MSI version information.  Make sure MSI service exists.\r\n"
                             "Installation Failed\r\n\t'QUILLAN.DLL, C:\\APPS\\ALPHA\\ALPHA.MSI, , , , START "), errors
    assert not pc.exists(SPY_RECORD)
    assert not pc.exists(r"C:\Program Files\Velk Alpha")

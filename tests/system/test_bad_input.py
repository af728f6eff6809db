"""The inputs that break software, handed to every utility and to the engine as whole
programs in virtual PCs: their command lines, every file they read, and the files they
replace or delete held open by another program as scanners hold them. Each row says
what the program must do; every row also checks that nothing crashed and that every
input file is still there byte for byte unless the program's job is to change it.

Which inputs apply:
- a command line has no lines, cannot hold a NUL and is never read-only or locked;
  Windows passes at most 32 767 characters, so that is the longest, not 1 MB; an empty
  one is a row of each program's own tests;
- a file only tested for existence (Jaskel's tag, the finished mark, the engine's
  markers) has no content to break, and a locked one is present all the same;
- a file copied as bytes (Fendrix's source, the error file Vindle hands over) is never
  read as text: one binary row of 1 MB with NUL bytes stands for the line inputs; a file
  only written (the logs) gets the held and folder-missing rows;
- a path the program builds itself (C:\\VELK.SDR, nuv.txt beside the engine) has no
  other drive or folder to be missing;
- a read-only file is read all the same and, where the program's job is to replace or
  delete it, replaced or deleted; Wine run as root writes a read-only file regardless,
  so no row can show one refusing a write.
The engine's own files (run list, settings, markers, WININIT.INI, its log and error
file) and the InstallShield result file get the same inputs component by component in
tests/win (bad_input_test.cpp, control_manager_test.cpp, installshield_wrapper_test.cpp).
Pomrel and Tevrost read no file.
"""

import collections
import glob
import json
import os
import shutil
import stat
import subprocess
import time

import pytest

from conftest import built, install_fixture, vpc
from engine_pc import close_window

TOOLS = "C:\\TOOLS\\"
HOLDER = r"C:\fixtures\hold_file.exe"
ENGINE = r"C:\Velk\NUV\NUV.exe"
WORK = r"C:\MX"
HOBRINT_LOG = r"C:\VELK\HOBRINT.LOG"
JASKEL_LOG = r"C:\VELK\JASKEL.LOG"
UTILS_LOG = r"C:\Velk\Utils.Log"
TEVROST_LOG = r"C:\VELK\Tevrost.Log"
VINDLE_LOG = r"c:\velk\nuv\vindle.log"
MARKER = r"C:\VELK.SDR"
ERR = r"c:\velk\nuv.err"
KORB_COPY = r"c:\velk\korb\nuv.err"
FAIL_TAG = r"c:\velk\KORB\ZKTFAIL.TAG"
FINISHED = r"C:\Velk\nuv.dun"
MESSAGE_TEXTS = r"C:\Velk\NUV\nuv.txt"
REGISTRY_KEY = r"HKCU\Software\VelkMatrix"
# Files a row's program may leave behind; removed before every row.
SCRATCH = (HOBRINT_LOG, JASKEL_LOG, UTILS_LOG, TEVROST_LOG, VINDLE_LOG, MARKER, ERR, KORB_COPY, FAIL_TAG,
           FINISHED, MESSAGE_TEXTS)

MB = 1 << 20
LONGEST = 32000  # characters of one argument: with the program's path, near Windows' 32 767
NUL_BYTES = b"MZ\x90\x00\x03\x00\x00\x00\xff\xfe\x1a\r\x00\n"
INVALID_MULTIBYTE = b"\x81\xff\xe0\x80\xc3\x28 \x82"  # lone trail bytes, a lead byte at the end


class ReadOnly(bytes):
    """File content put read-only."""


class Absent(str):
    """A log text that must not be there."""


Row = collections.namedtuple("Row", "group name command files removed hold code box logged changed value")
ANY = Ellipsis  # in changed: the file is there, whatever it holds


def row(group, name, program, args, files=None, removed=(), hold=None, code=0, box=None, logged=(), changed=None,
        value=None):
    """command: the program and its arguments; files: {path: content} put before the run;
    removed: folders taken away before it; hold: ("scan" or "lock", path) held by another
    program while the command runs; box: (title, text) of the message box the program must
    show (closed by the test); logged: (log, text) pairs; changed: {path: content, None for
    absent, ANY} afterwards; value: the registry value Morlane works on, afterwards.
    Every file put and not named in changed must be as it was put."""
    command = [TOOLS + program + ".exe" if program != "NUV" else ENGINE] + list(args)
    return Row(group, name, command, files or {}, tuple(removed), hold, code, box, tuple(logged), changed or {},
               value)


def run_list_line(variable=b"${NUVDEST}"):
    return b"TOK, " + variable + b":\\APPS\\SETUP.EXE, , 30"


RUN_LIST = WORK + r"\RUN.NUV"
RUN_TEMP = WORK + r"\RUNNUV.TMP"
RUN_BACKUP = WORK + r"\RUNNUV.BAK"
RUN_ASIDE = WORK + r"\~RUN.NUV.OLD"
LINE = run_list_line() + b"\r\n"
FIXED = run_list_line(b"C") + b"\r\n"
HOBRINT_ARGS = [RUN_LIST, "TOK", "NUVDEST"]
UNABLE_TO_OPEN = "Unable To Open File: %s"


def text_mode(content):
    """What a rewrite through a text file makes of the content: every line end CR LF."""
    return content.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")


def fixup(old, new=FIXED, backup=None):
    """A successful fix-up: the rewrite in the file's place, the old contents backed up."""
    return {RUN_LIST: new, RUN_BACKUP: old if backup is None else backup, RUN_TEMP: None}


def hobrint_rows(group):
    changes = (HOBRINT_LOG, "\n** Changes Were Made **")
    none = (HOBRINT_LOG, "** No Changes Were Necessary **")
    moved = "While moving C:\\MX\\RUNNUV.TMP to C:\\MX\\RUN.NUV, an error occurred:\r\n  (Error: %d) "
    not_moved = (HOBRINT_LOG, "Error Messages Have Been Logged\r\nExamine C:\\VELK\\HOBRINT.LOG for issues.")
    big = run_list_line() + b", " + b"x" * MB + b"\r\n"
    many = b"# a remark\r\n" * 99999 + LINE
    odd = run_list_line() + b", " + INVALID_MULTIBYTE + b"\r\n" + INVALID_MULTIBYTE
    binary = NUL_BYTES + b"\r\n" + run_list_line() + b", " + NUL_BYTES + b"\r\n" + NUL_BYTES
    return [
        row(group, "hobrint: command line of 32 767 characters", "Hobrint", [RUN_LIST, "TOK", "V" * LONGEST],
            files={RUN_LIST: LINE}, code=1, box=("HOBRINT - Usage", "Usage: HOBRINT  drive_path_RUN.NUV"),
            logged=[(HOBRINT_LOG, "Command line longer than 1023 characters")]),
        row(group, "hobrint: invalid multibyte on the command line", "Hobrint",
            [RUN_LIST, "TOK\x81\xff", "NUVDEST\x82"], files={RUN_LIST: LINE}, logged=[none]),
        row(group, "hobrint: run list missing", "Hobrint", HOBRINT_ARGS, code=1,
            logged=[(HOBRINT_LOG, UNABLE_TO_OPEN % RUN_LIST)], changed={RUN_TEMP: None}),
        row(group, "hobrint: run list empty", "Hobrint", HOBRINT_ARGS, files={RUN_LIST: b""}, logged=[none],
            changed={RUN_TEMP: None, RUN_BACKUP: None}),
        row(group, "hobrint: run list binary", "Hobrint", HOBRINT_ARGS, files={RUN_LIST: binary},
            logged=[changes], changed=fixup(binary, text_mode(binary.replace(b"${NUVDEST}", b"C")))),
        row(group, "hobrint: run list of one 1 MB line", "Hobrint", HOBRINT_ARGS, files={RUN_LIST: big},
            logged=[changes], changed=fixup(big, big.replace(b"${NUVDEST}", b"C"))),
        row(group, "hobrint: run list of 100 000 lines", "Hobrint", HOBRINT_ARGS, files={RUN_LIST: many},
            logged=[changes], changed=fixup(many, many[:-len(LINE)] + FIXED)),
        row(group, "hobrint: run list without a line end", "Hobrint", HOBRINT_ARGS,
            files={RUN_LIST: run_list_line()}, logged=[changes],
            changed=fixup(run_list_line(), run_list_line(b"C"))),
        row(group, "hobrint: run list with invalid multibyte", "Hobrint", HOBRINT_ARGS, files={RUN_LIST: odd},
            logged=[changes], changed=fixup(odd, odd.replace(b"${NUVDEST}", b"C"))),
        row(group, "hobrint: run list read-only", "Hobrint", HOBRINT_ARGS, files={RUN_LIST: ReadOnly(LINE)},
            logged=[changes], changed=fixup(LINE)),
        row(group, "hobrint: run list locked", "Hobrint", HOBRINT_ARGS, files={RUN_LIST: LINE},
            hold=("lock", RUN_LIST), code=1, logged=[(HOBRINT_LOG, UNABLE_TO_OPEN % RUN_LIST)],
            changed={RUN_TEMP: None}),
        row(group, "hobrint: run list's folder missing", "Hobrint", [r"C:\NOFOLDER\RUN.NUV", "TOK", "NUVDEST"],
            code=1, logged=[(HOBRINT_LOG, UNABLE_TO_OPEN % r"C:\NOFOLDER\RUN.NUV")]),
        row(group, "hobrint: run list's drive missing", "Hobrint", [r"Q:\RUN.NUV", "TOK", "NUVDEST"], code=1,
            logged=[(HOBRINT_LOG, UNABLE_TO_OPEN % r"Q:\RUN.NUV")]),
        row(group, "hobrint: run list held", "Hobrint", HOBRINT_ARGS, files={RUN_LIST: LINE},
            hold=("scan", RUN_LIST), code=1, logged=[(HOBRINT_LOG, moved % 5), not_moved],
            changed={RUN_TEMP: FIXED, RUN_BACKUP: LINE}),
        row(group, "hobrint: its temporary file held", "Hobrint", HOBRINT_ARGS, files={RUN_LIST: LINE},
            hold=("scan", RUN_TEMP), code=1, logged=[(HOBRINT_LOG, moved % 32), not_moved],
            changed={RUN_TEMP: FIXED, RUN_BACKUP: LINE}),
        row(group, "hobrint: its backup held", "Hobrint", HOBRINT_ARGS, files={RUN_LIST: LINE},
            hold=("scan", RUN_BACKUP), logged=[(HOBRINT_LOG, "  Unable to delete file: RUNNUV.BAK"), changes],
            changed=fixup(LINE)),
        row(group, "hobrint: its log held", "Hobrint", HOBRINT_ARGS, files={RUN_LIST: LINE},
            hold=("scan", HOBRINT_LOG), logged=[changes], changed=fixup(LINE)),
    ]


def hobrint_9x_rows(group):
    # Without a one-step replacement the list steps aside while its rewrite takes its
    # place: a list or rewrite held so that it cannot be renamed leaves the list as it was,
    # and no copy aside.
    changes = (HOBRINT_LOG, "\n** Changes Were Made **")
    moved = "While moving C:\\MX\\RUNNUV.TMP to C:\\MX\\RUN.NUV, an error occurred:\r\n  (Error: 32) "
    not_moved = (HOBRINT_LOG, "Error Messages Have Been Logged\r\nExamine C:\\VELK\\HOBRINT.LOG for issues.")
    kept = {RUN_TEMP: FIXED, RUN_BACKUP: LINE, RUN_ASIDE: None}
    return [
        row(group, "hobrint 9x: run list held", "Hobrint", HOBRINT_ARGS, files={RUN_LIST: LINE},
            hold=("scan", RUN_LIST), code=1, logged=[(HOBRINT_LOG, moved), not_moved], changed=kept),
        row(group, "hobrint 9x: its temporary file held", "Hobrint", HOBRINT_ARGS, files={RUN_LIST: LINE},
            hold=("scan", RUN_TEMP), code=1, logged=[(HOBRINT_LOG, moved), not_moved], changed=kept),
        row(group, "hobrint 9x: its backup held", "Hobrint", HOBRINT_ARGS, files={RUN_LIST: LINE},
            hold=("scan", RUN_BACKUP), logged=[changes], changed=fixup(LINE)),
    ]


def marker_rows(group):
    # The development marker, read by Hobrint and Jaskel alike: development mode writes
    # the start block to the log.
    started = (HOBRINT_LOG, "HOBRINT.EXE - Commencing Operations")
    not_started = (HOBRINT_LOG, Absent("Commencing Operations"))
    server = b"rem Created On Server LUMO TEST"
    markers = [
        ("empty", b"", not_started),
        ("binary", NUL_BYTES.replace(b"\n", b"") + server, not_started),
        ("of one 1 MB line", server + b" " + b"x" * MB, started),
        ("of 100 000 lines", b"rem\r\n" * 99999 + b"rem Created On Server LUMO PROTO\r\n", started),
        ("without a line end", b"rem Created On Server LUMO SV", started),
        ("with invalid multibyte", b"rem Created On Server " + INVALID_MULTIBYTE + b" TEST\r\n", started),
        ("read-only", ReadOnly(server + b"\r\n"), started),
    ]
    rows = [row(group, "development marker %s" % name, "Hobrint", HOBRINT_ARGS,
                files={MARKER: content, RUN_LIST: LINE}, logged=[expected], changed=fixup(LINE))
            for name, content, expected in markers]
    rows.append(row(group, "development marker locked", "Hobrint", HOBRINT_ARGS,
                    files={MARKER: server + b"\r\n", RUN_LIST: LINE}, hold=("lock", MARKER), logged=[not_started],
                    changed=fixup(LINE)))
    return rows


SETTINGS = WORK + r"\SETUP.INI"
SETTINGS_TEMP = WORK + r"\F0E1D2C3.TMP"
SETTINGS_BACKUP = WORK + r"\SETUP.BAK"
JASKEL_ARGS = [r"\APPS\SETUP.EXE", SETTINGS, "NUVDEST"]
SETTING = b"[Paths]\r\nData=${NUVDEST}:\\DATA\r\n"


def jaskel_rows(group):
    changes = (JASKEL_LOG, "\n** Changes Were Made **")
    unable = "[Jaskel] Unable To Open File: %s"
    moved = "While moving C:\\MX\\F0E1D2C3.TMP to C:\\MX\\SETUP.INI, an error occurred:\r\n  (Error: %d) "
    not_moved = (JASKEL_LOG, "[Jaskel] Error Messages Have Been Logged\r\n        Examine C:\\VELK\\JASKEL.LOG")
    fixed = SETTING.replace(b"${NUVDEST}", b"C")

    def edited(old, new=None):
        new = old.replace(b"${NUVDEST}", b"C").replace(b"${nuvdest}", b"C") if new is None else new
        return {SETTINGS: new, SETTINGS_BACKUP: old, SETTINGS_TEMP: None}

    big = b"Data=${NUVDEST}:\\DATA " + b"x" * MB + b"\r\n"
    many = b"Key=Value\r\n" * 99999 + b"Last=${NUVDEST}:\r\n"
    odd = INVALID_MULTIBYTE + b"=${nuvdest}:\\" + INVALID_MULTIBYTE + b"\r\n"
    binary = NUL_BYTES + b"${NUVDEST}:\\X" + NUL_BYTES
    return [
        row(group, "jaskel: command line of 32 767 characters", "Jaskel", JASKEL_ARGS[:2] + ["V" * LONGEST],
            files={SETTINGS: SETTING}, code=1, box=("JASKEL - Usage", "Usage: JASKEL  drive_path_find_tag_file"),
            logged=[(JASKEL_LOG, "Command line longer than 1023 characters")]),
        row(group, "jaskel: invalid multibyte on the command line", "Jaskel",
            ["\\APPS\\\x81\xff.EXE", SETTINGS, "NUVDEST"], files={SETTINGS: SETTING}, code=1,
            logged=[(JASKEL_LOG, "** Tag File Was Not Found **")]),
        row(group, "jaskel: file to edit missing", "Jaskel", JASKEL_ARGS, code=1,
            logged=[(JASKEL_LOG, unable % SETTINGS)], changed={SETTINGS_TEMP: None}),
        row(group, "jaskel: file to edit empty", "Jaskel", JASKEL_ARGS, files={SETTINGS: b""},
            logged=[(JASKEL_LOG, "** No Changes Were Necessary **")],
            changed={SETTINGS_TEMP: None, SETTINGS_BACKUP: None}),
        row(group, "jaskel: file to edit binary", "Jaskel", JASKEL_ARGS, files={SETTINGS: binary},
            logged=[changes], changed=edited(binary, text_mode(binary.replace(b"${NUVDEST}", b"C")))),
        row(group, "jaskel: file to edit of one 1 MB line", "Jaskel", JASKEL_ARGS, files={SETTINGS: big},
            logged=[changes], changed=edited(big)),
        row(group, "jaskel: file to edit of 100 000 lines", "Jaskel", JASKEL_ARGS, files={SETTINGS: many},
            logged=[changes], changed=edited(many)),
        row(group, "jaskel: file to edit without a line end", "Jaskel", JASKEL_ARGS,
            files={SETTINGS: b"Data=${NUVDEST}:"}, logged=[changes], changed=edited(b"Data=${NUVDEST}:")),
        row(group, "jaskel: file to edit with invalid multibyte", "Jaskel", JASKEL_ARGS, files={SETTINGS: odd},
            logged=[changes], changed=edited(odd)),
        row(group, "jaskel: file to edit read-only", "Jaskel", JASKEL_ARGS, files={SETTINGS: ReadOnly(SETTING)},
            logged=[changes], changed=edited(SETTING)),
        row(group, "jaskel: file to edit locked", "Jaskel", JASKEL_ARGS, files={SETTINGS: SETTING},
            hold=("lock", SETTINGS), code=1, logged=[(JASKEL_LOG, unable % SETTINGS)],
            changed={SETTINGS_TEMP: None}),
        row(group, "jaskel: file to edit's folder missing", "Jaskel",
            [r"\APPS\SETUP.EXE", r"C:\NOFOLDER\SETUP.INI", "NUVDEST"], code=1,
            logged=[(JASKEL_LOG, unable % r"C:\NOFOLDER\SETUP.INI")]),
        row(group, "jaskel: file to edit's drive missing", "Jaskel", [r"\APPS\SETUP.EXE", r"Q:\SETUP.INI", "NUVDEST"],
            code=1, logged=[(JASKEL_LOG, unable % r"Q:\SETUP.INI")]),
        row(group, "jaskel: tag locked", "Jaskel", JASKEL_ARGS, files={SETTINGS: SETTING},
            hold=("lock", r"C:\APPS\SETUP.EXE"), logged=[changes], changed=edited(SETTING)),
        row(group, "jaskel: file to edit held", "Jaskel", JASKEL_ARGS, files={SETTINGS: SETTING},
            hold=("scan", SETTINGS), code=1, logged=[(JASKEL_LOG, moved % 5), not_moved],
            changed={SETTINGS_TEMP: fixed, SETTINGS_BACKUP: SETTING}),
        row(group, "jaskel: its temporary file held", "Jaskel", JASKEL_ARGS, files={SETTINGS: SETTING},
            hold=("scan", SETTINGS_TEMP), code=1, logged=[(JASKEL_LOG, moved % 32), not_moved],
            changed={SETTINGS_TEMP: fixed, SETTINGS_BACKUP: SETTING}),
        row(group, "jaskel: its backup held", "Jaskel", JASKEL_ARGS, files={SETTINGS: SETTING},
            hold=("scan", SETTINGS_BACKUP), logged=[changes], changed=edited(SETTING)),
        row(group, "jaskel: its log held", "Jaskel", JASKEL_ARGS, files={SETTINGS: SETTING},
            hold=("scan", JASKEL_LOG), logged=[changes], changed=edited(SETTING)),
    ]


SOURCE = WORK + r"\SRC\a.dat"
TARGET_FOLDER = WORK + r"\DST"
TARGET = TARGET_FOLDER + r"\a.dat"


def fendrix_rows(group):
    def failed_copy(error, target=TARGET):
        return (UTILS_LOG, "FENDRIX: Failed copying %s to %s. System Error Code %d CreateWin32 error 0"
                % (SOURCE, target, error))

    binary = (NUL_BYTES * (MB // len(NUL_BYTES) + 1))[:MB]
    # The target is older than the source: it is replaced (Fendrix compares the times).
    older = {SOURCE: b"new", TARGET: b"an older target"}
    return [
        row(group, "fendrix: command line of 32 767 characters", "Fendrix", ["A" * LONGEST, TARGET_FOLDER],
            logged=[(UTILS_LOG, "FENDRIX: Individual command line parameter exceeds maximum length")]),
        row(group, "fendrix: invalid multibyte on the command line", "Fendrix",
            [WORK + "\\SRC\\\x81\xff.dat", WORK + r"\copy.dat"], code=3,
            logged=[(UTILS_LOG, "FENDRIX: First param C:\\MX\\SRC\\\x81\xff.dat not found")]),
        row(group, "fendrix: source empty", "Fendrix", [SOURCE, TARGET_FOLDER], files={SOURCE: b""},
            changed={TARGET: b""}),
        row(group, "fendrix: source binary of 1 MB", "Fendrix", [SOURCE, TARGET_FOLDER], files={SOURCE: binary},
            changed={TARGET: binary}),
        row(group, "fendrix: source read-only", "Fendrix", [SOURCE, TARGET_FOLDER], files={SOURCE: ReadOnly(b"ro")},
            changed={TARGET: b"ro"}),
        row(group, "fendrix: source locked", "Fendrix", ["/d", SOURCE, TARGET_FOLDER], files={SOURCE: b"locked"},
            hold=("lock", SOURCE), code=32, logged=[failed_copy(32)], changed={TARGET: None}),
        row(group, "fendrix: source held", "Fendrix", ["/d", SOURCE, TARGET_FOLDER], files={SOURCE: b"held"},
            hold=("scan", SOURCE), changed={TARGET: b"held"}),
        row(group, "fendrix: source's folder missing", "Fendrix", [r"C:\NOFOLDER\a.dat", TARGET_FOLDER + r"\b.dat"],
            code=3, logged=[(UTILS_LOG, "FENDRIX: First param C:\\NOFOLDER\\a.dat not found")]),
        row(group, "fendrix: source's drive missing", "Fendrix", [r"Q:\a.dat", TARGET_FOLDER + r"\b.dat"], code=3,
            logged=[(UTILS_LOG, "FENDRIX: First param Q:\\a.dat not found")]),
        row(group, "fendrix: target locked", "Fendrix", [SOURCE, TARGET_FOLDER], files=older, hold=("lock", TARGET),
            code=32, logged=[failed_copy(32)]),
        row(group, "fendrix: target held", "Fendrix", [SOURCE, TARGET_FOLDER], files=older, hold=("scan", TARGET),
            changed={TARGET: b"new"}),
        row(group, "fendrix: target's folder missing", "Fendrix", [SOURCE, r"C:\NOFOLDER\a.dat"],
            files={SOURCE: b"new"}, code=3, logged=[failed_copy(3, r"C:\NOFOLDER\a.dat")]),
        row(group, "fendrix: target's drive missing", "Fendrix", [SOURCE, r"Q:\a.dat"], files={SOURCE: b"new"},
            code=2, logged=[failed_copy(2, r"Q:\a.dat")]),
        row(group, "fendrix: its log held", "Fendrix", ["/x", SOURCE, TARGET_FOLDER], files={SOURCE: b"new"},
            hold=("scan", UTILS_LOG), logged=[(UTILS_LOG, "FENDRIX: Invalid command line switch: /x")],
            changed={TARGET: b"new"}),
    ]


DATA = WORK + r"\data.txt"
RECORD = b"HKEY_CURRENT_USER\\Software\\VelkMatrix\r\nPath\r\nd:\\apps\r\n"
MISSING_RECORD = b"HKEY_CURRENT_USER\\Software\\VelkMatrixNone\r\nPath\r\nd:\\apps\r\n"
# No CD-ROM drive beside A: and C:, so the root is d:\.
APPLIED = r"d:\Tool.exe"
UNAPPLIED = r"D:\Apps\Tool.exe"


def morlane_rows(group):
    invalid = (UTILS_LOG, "MORLANE: Data file does not contain valid data.")
    not_opened = "MORLANE: Data file %s not opened.  Check file existance."
    record_args = ["/t", "/l", "d:\\apps", DATA, "/u", r"Software\VelkMatrix", "/m", r"Software\VelkNoSuchKey"]
    complete = (TOOLS + "Morlane.exe", "Program Complete!")
    recorded = b"HKEY_CURRENT_USER\\software\\velkmatrix\r\nPath\r\nd:\\apps\r\n"
    return [
        row(group, "morlane: command line of 32 767 characters", "Morlane", ["A" * LONGEST, "/l"], code=2,
            logged=[(UTILS_LOG, "MORLANE: Command line longer than 259 characters")]),
        row(group, "morlane: invalid multibyte on the command line", "Morlane",
            [WORK + "\\\x81\xff.txt", "/l"], code=2, logged=[(UTILS_LOG, not_opened % (WORK.lower() + "\\\x81\xff.txt"))]),
        row(group, "morlane: data file binary", "Morlane", [DATA, "/l"], files={DATA: NUL_BYTES}, code=13,
            logged=[invalid]),
        # Read in pieces of 518 characters: the pieces make a record of a key that does
        # not exist, which is passed over.
        row(group, "morlane: data file of one 1 MB line", "Morlane", [DATA],
            files={DATA: RECORD[:-2] + b"x" * MB + b"\r\n"}, changed={DATA: None}, value=UNAPPLIED),
        row(group, "morlane: data file of 100 000 lines", "Morlane", [DATA],
            files={DATA: RECORD + MISSING_RECORD * 33332 + b"\r\n"}, changed={DATA: None}, value=APPLIED),
        row(group, "morlane: data file without a line end", "Morlane", [DATA], files={DATA: RECORD[:-2]},
            changed={DATA: None}, value=APPLIED),
        row(group, "morlane: data file with invalid multibyte", "Morlane", [DATA],
            files={DATA: b"HKEY_CURRENT_USER\\Software\\VelkMatrix\r\n" + INVALID_MULTIBYTE + b"\r\nd:\\apps\r\n"},
            changed={DATA: None}),
        row(group, "morlane: data file read-only", "Morlane", [DATA], files={DATA: ReadOnly(RECORD)},
            changed={DATA: None}, value=APPLIED),
        row(group, "morlane: data file locked", "Morlane", [DATA, "/l"], files={DATA: RECORD}, hold=("lock", DATA),
            code=2, logged=[(UTILS_LOG, not_opened % DATA.lower())], value=UNAPPLIED),
        row(group, "morlane: data file held", "Morlane", [DATA, "/l"], files={DATA: RECORD}, hold=("scan", DATA),
            code=32, logged=[(UTILS_LOG, "MORLANE: Data file %s could not be deleted (Error Number: 32)"
                              % DATA.lower())], value=APPLIED),
        row(group, "morlane: data file's folder missing", "Morlane", [r"C:\NOFOLDER\data.txt", "/l"], code=2,
            logged=[(UTILS_LOG, not_opened % r"c:\nofolder\data.txt")]),
        row(group, "morlane: data file's drive missing", "Morlane", [r"Q:\data.txt", "/l"], code=2,
            logged=[(UTILS_LOG, not_opened % r"q:\data.txt")]),
        row(group, "morlane: its log held", "Morlane", [DATA, "/l", "/x"], files={DATA: RECORD},
            hold=("scan", UTILS_LOG), logged=[(UTILS_LOG, "MORLANE: Invalid command line switch: /x")],
            changed={DATA: None}),
        # Record mode: a data file that cannot be written yields no records and no message.
        row(group, "morlane: record into a held data file", "Morlane", record_args, files={DATA: b"kept\r\n"},
            hold=("scan", DATA), box=complete, changed={DATA: b"kept\r\n" + recorded}),
        row(group, "morlane: record into a missing folder", "Morlane", [r"C:\NOFOLDER\d.txt" if a == DATA else a for a in record_args],
            box=complete),
    ]


def vindle_rows(group):
    lines = [(VINDLE_LOG, text) for text in ("Vindle: Entered WinMain", "Vindle: NUV completed")]
    quiet = (VINDLE_LOG, Absent("Vindle"))
    binary = (NUL_BYTES * (MB // len(NUL_BYTES) + 1))[:MB]
    finished = {FINISHED: b""}
    return [
        row(group, "vindle: command line of 32 767 characters", "Vindle", ["A" * LONGEST], files=finished,
            logged=lines),
        row(group, "vindle: error file binary of 1 MB", "Vindle", [], files={ERR: binary}, logged=[quiet],
            changed={KORB_COPY: binary, FAIL_TAG: b""}),
        row(group, "vindle: error file empty", "Vindle", [], files={ERR: b""}, changed={KORB_COPY: b"", FAIL_TAG: b""}),
        row(group, "vindle: error file read-only", "Vindle", [], files={ERR: ReadOnly(b"failed\r\n")},
            changed={KORB_COPY: b"failed\r\n", FAIL_TAG: b""}),
        # Failures of the copy are ignored: the tag still hands the failure over.
        row(group, "vindle: error file locked", "Vindle", [], files={ERR: b"failed\r\n"}, hold=("lock", ERR),
            changed={KORB_COPY: None, FAIL_TAG: b""}),
        row(group, "vindle: error file held", "Vindle", [], files={ERR: b"failed\r\n"}, hold=("scan", ERR),
            changed={KORB_COPY: b"failed\r\n", FAIL_TAG: b""}),
        row(group, "vindle: the factory's folder missing", "Vindle", [], files={ERR: b"failed\r\n"},
            removed=[r"C:\VELK\KORB"], changed={KORB_COPY: None, FAIL_TAG: None}),
        row(group, "vindle: finished mark locked", "Vindle", [], files=finished, hold=("lock", FINISHED), logged=lines),
        # The log is opened without sharing: while another program holds it, lines are lost.
        row(group, "vindle: its log held", "Vindle", [], files=finished, hold=("scan", VINDLE_LOG),
            changed={VINDLE_LOG: b""}),
    ]


def timing_rows(group):
    task = r"C:\fixtures\task_exit.exe"
    usage = ("Tevrost, Ver: A01", "USAGE: Tevrost  xx  command_line")
    return [
        row(group, "tevrost: command line of 32 767 characters", "Tevrost", ["1", "C:\\" + "A" * LONGEST],
            logged=[(TEVROST_LOG, "Command Line Start Failed: (")]),
        row(group, "tevrost: invalid multibyte count", "Tevrost", ["\x81\xff", task], code=1, box=usage),
        row(group, "tevrost: its log's folder missing", "Tevrost", ["1", task, "0"], removed=[r"C:\VELK"]),
        row(group, "pomrel: command line of 32 767 characters", "Pomrel", ["\x81" * LONGEST],
            box=("Pomrel 1.01 Usage", "[usage] Pomrel SecondsToSleep")),
        row(group, "pomrel: a number of 32 767 digits, skipped", "Pomrel", ["9" * LONGEST, "/s"]),
    ]


def engine_rows(group):
    version = ("NUV 1.20", "NUV 1.20 Multibyte Build 1")
    # Under the factory test environment with an error from an earlier boot the engine
    # shows its window, hands the failure over and ends without a countdown.
    failed = {FAIL_TAG: b"", FINISHED: b""}
    texts = [
        ("binary", NUL_BYTES + b'MSG_TITLE="' + NUL_BYTES + b'"\r\n'),
        ("of one 1 MB line", b'MSG_INPROGRESS="' + b"x" * MB + b'"\r\n'),
        ("of 100 000 lines", b'MSG_TITLE="Title"\r\n' * 100000),
        ("of 100 000 lines in one open text", b'MSG_INPROGRESS="open\r\n' + b"more text\r\n" * 99999),
        ("without a line end", b'MSG_TITLE="no line end'),
        ("with invalid multibyte", b'MSG_INPROGRESS="' + INVALID_MULTIBYTE + b'"\r\n' + INVALID_MULTIBYTE),
        ("read-only", ReadOnly(b'MSG_TITLE="read-only"\r\n')),
    ]
    rows = [row(group, "engine: message texts %s" % name, "NUV", [], files={MESSAGE_TEXTS: content, ERR: b"x\r\n"},
                changed=dict(failed, **{ERR: ANY}))
            for name, content in texts]
    rows.append(row(group, "engine: message texts locked", "NUV", [],
                    files={MESSAGE_TEXTS: b'MSG_TITLE="locked"\r\n', ERR: b"x\r\n"}, hold=("lock", MESSAGE_TEXTS),
                    changed=dict(failed, **{ERR: ANY})))
    rows += [
        row(group, "engine: one argument of 32 767 characters", "NUV", ["A" * LONGEST], box=version,
            changed={FINISHED: None}),
        row(group, "engine: one argument of invalid multibyte", "NUV", ["\x81\xff\xfe"], box=version,
            changed={FINISHED: None}),
    ]
    return rows


# Each group of rows shares one PC; the groups run side by side.
ROWS = (hobrint_rows("Hobrint") + marker_rows("Hobrint") + jaskel_rows("Jaskel") + hobrint_9x_rows("Hobrint 9x")
        + fendrix_rows("Fendrix and Morlane") + morlane_rows("Fendrix and Morlane") + vindle_rows("the others")
        + timing_rows("the others") + engine_rows("the others"))


def make_matrix_pc(make_pc, group):
    pc = make_pc(family="9x" if group.endswith(" 9x") else "nt")
    # A crash must end the program with its trace, not wait for a person at a dialog.
    pc.set_reg(r"HKCU\Software\Wine\WineDbg", "ShowCrashDialog", 0)
    for name in ("Hobrint", "Jaskel", "Fendrix", "Morlane", "Vindle", "Tevrost", "Pomrel"):
        pc.put_file(TOOLS + name + ".exe", source=built(os.path.join("utilities", name.lower(), name + ".exe"), pc.arch))
    for fixture in ("hold_file.exe", "window_probe.exe", "click_control.exe", "task_exit.exe"):
        install_fixture(pc, fixture)
    pc.set_reg(vpc.RUN_KEY, "Velk NUV", ENGINE)
    return pc


def reset(pc):
    for path in (WORK,) + SCRATCH:
        host = pc.host_path(path)
        if os.path.isdir(host):
            for root, dirs, names in os.walk(host):
                for name in dirs + names:
                    os.chmod(os.path.join(root, name), 0o755)
            shutil.rmtree(host)
        elif os.path.lexists(host):
            os.chmod(host, 0o644)
            os.remove(host)
    # What every row finds: the engine installed for the factory, an empty run list, the
    # program Hobrint and Jaskel look for.
    if not pc.exists(ENGINE):
        pc.put_file(ENGINE, source=built(os.path.join("engine", "NUV.exe"), pc.arch))
    for path, content in ((r"C:\APPS\SETUP.EXE", b"MZ"), (r"C:\VELK\RUN.NUV", b""),
                          (r"C:\VELK\KORB\quorvane.exe", b"MZ")):
        pc.put_file(path, content)
    for path in (r"C:\VELK\NUV", WORK + r"\SRC", TARGET_FOLDER):
        pc.make_dir(path)
    pc.set_reg(REGISTRY_KEY, "Path", UNAPPLIED)


def put(pc, path, content):
    host = pc.put_file(path, bytes(content))
    if isinstance(content, ReadOnly):
        os.chmod(host, stat.S_IRUSR | stat.S_IRGRP | stat.S_IROTH)
    if path == TARGET:
        # A day older than the source: the source is newer by its time.
        os.utime(host, (time.time() - 86400,) * 2)


def stderr_of(pc, program):
    """Standard error of the last start of that program in the PC."""
    name = os.path.basename(program).replace("\\", "_")
    paths = sorted(glob.glob(os.path.join(pc.logs, "*-%s.err" % glob.escape(name))))
    with open(paths[-1], "rb") as f:
        return f.read().decode("latin-1")


def read(pc, path):
    return pc.read_file(path) if pc.exists(path) else None


def run_row(pc, r):
    """The failures of one row, as texts."""
    command = list(r.command)
    if r.hold:
        command = [HOLDER] + (["/lock"] if r.hold[0] == "lock" else []) + [r.hold[1]] + command
    process = pc.start(*command)
    if r.box:
        title, text = r.box
        box = wait_for_box(pc, process, title)
        if box is None or not any(text in c["text"] for c in box["children"]):
            process.kill()
            return ["no box %r with %r: %r" % (title, text, box)]
        close_window(pc, title)
    try:
        code = process.wait(120)
    except subprocess.TimeoutExpired:
        windows = [w["title"] for w in visible_windows(pc)]
        process.kill()
        return ["did not end; windows: %r" % windows]
    failures = []
    errors = stderr_of(pc, command[0])
    if "Unhandled" in errors:
        failures.append("crashed: " + errors[-300:])
    if code != r.code:
        failures.append("exit code %s, not %s" % (code, r.code))
    for log, text in r.logged:
        content = (read(pc, log) or b"").decode("latin-1")
        if isinstance(text, Absent) and text in content:
            failures.append("%s holds %r: %r" % (log, str(text), content[-500:]))
        elif not isinstance(text, Absent) and text not in content:
            failures.append("%s lacks %r: %r" % (log, text, content[-500:]))
    expected = {path: bytes(content) for path, content in r.files.items()}
    expected.update(r.changed)
    for path, content in expected.items():
        actual = read(pc, path)
        if actual != content and not (content is ANY and actual is not None):
            failures.append("%s is %r, not %r" % (path, shown(actual), shown(content)))
    if r.value is not None and pc.get_reg(REGISTRY_KEY, "Path") != r.value:
        failures.append("the value is %r, not %r" % (pc.get_reg(REGISTRY_KEY, "Path"), r.value))
    return failures


def shown(content):
    return content if content is None or content is ANY else (content[:80], len(content))


def visible_windows(pc):
    return [w for w in json.loads(pc.run(r"C:\fixtures\window_probe.exe", check=True).stdout) if w["visible"]]


def wait_for_box(pc, process, title, timeout=60):
    """The box, once it is shown; None when the program ended or the time ran out first."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline and process.poll() is None:
        for window in visible_windows(pc):
            if window["title"] == title:
                return window
        time.sleep(0.2)
    return None


@pytest.mark.parametrize("group", [
    pytest.param(g, marks=pytest.mark.win32_only("the 9x family is 32-bit only")) if g.endswith(" 9x") else g
    for g in sorted({r.group for r in ROWS})])
def test_every_input_gets_its_answer_and_loses_nothing(make_pc, group):
    pc = make_matrix_pc(make_pc, group)
    failures = []
    for r in [r for r in ROWS if r.group == group]:
        reset(pc)
        for folder in r.removed:
            shutil.rmtree(pc.host_path(folder))
        for path, content in r.files.items():
            put(pc, path, content)
        failures += ["%s: %s" % (r.name, failure) for failure in run_row(pc, r)]
    assert not failures, "\n".join(failures)

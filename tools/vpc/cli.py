"""scripts/vpc: the virtual PC's verbs for people."""

import argparse
import hashlib
import os
import re
import shutil
import subprocess
import sys

from .check import REPO, check_run_list
from .host import ARCHS, VpcError, can_run
from .junit import JUnitFile, failed_model
from .pc import VirtualPC
from .prefix import template_path

REHEARSAL_OUT = os.path.join(REPO, "build", "rehearsal")
FAMILIES = ("nt", "9x")
REPORT_OUT = os.path.join(REPO, "build", "report")
JUNIT_HELP = ("also write the outcome as a JUnit XML file for CI: one test case per entry of the run list "
              "(failed with the error file's lines about it, skipped when not reached) and one for the "
              "whole run; not inside --out")


def folder_name(text):
    """A name for a folder of the build tree: letters, digits, dots and dashes kept."""
    return re.sub(r"[^\w.-]", "_", text).strip(".") or "_"


def place_mark(path):
    """Six hex digits of a path: two lists of the same name in different places, as
    custA/VELK/RUN.NUV and custB/VELK/RUN.NUV, get folders of their own."""
    return hashlib.sha1(os.fsencode(os.path.realpath(path))).hexdigest()[:6]


def list_name(run_list):
    """What a person calls a list: its name, or its folder's when it is called RUN.NUV, as most are."""
    path = os.path.abspath(run_list)
    stem = os.path.splitext(os.path.basename(path))[0]
    return os.path.basename(os.path.dirname(path)) if stem.upper() == "RUN" else stem


def rehearsal_out(run_list, arch, family):
    """One folder per list and machine, so that two rehearsals side by side never share
    one: build/rehearsal/<list>-<arch>-<family>-<place>."""
    path = os.path.abspath(run_list)
    return os.path.join(REHEARSAL_OUT, "%s-%s-%s-%s" % (folder_name(list_name(path)), arch, family, place_mark(path)))


def report_out(velk):
    """One folder per copy of C:\\VELK: build/report/<its parent folder>-<its name>-<place>,
    as pc17-VELK-3fa9c1 for pc17/VELK."""
    path = os.path.abspath(velk)
    parent = os.path.basename(os.path.dirname(path))
    name = "-".join(n for n in (parent, os.path.basename(path), place_mark(path)) if n)
    return os.path.join(REPORT_OUT, folder_name(name))


def error_line(error):
    """One line for an error of the tool itself (a full or read-only disk, a failed
    copy, a program that did not start)."""
    if isinstance(error, shutil.Error) and error.args and isinstance(error.args[0], list) and error.args[0]:
        source, target, why = error.args[0][0]
        more = len(error.args[0]) - 1
        return "copying %s to %s failed: %s%s" % (source, target, why, " (and %d more)" % more if more else "")
    if isinstance(error, OSError) and error.strerror:
        names = [n for n in (error.filename, error.filename2) if n is not None]
        return "%s%s" % (error.strerror, ": " + " -> ".join(str(n) for n in names) if names else "")
    return str(error) or type(error).__name__


EXIT_CODES = ("Exit codes: 0 the list finished without an error file; 1 the list failed, did not finish or ran "
              "out of time; 2 the tool could not do its work: a wrong command line, %s, an output folder it may "
              "not use (not made by it, a symbolic link, inside what the report reads or around it, held by "
              "another report), or an error of this machine (a full or read-only disk, a failed copy), told in "
              "one line on standard error.")


def positive_number(text, what):
    try:
        value = int(text)
    except ValueError:
        value = 0
    if value <= 0:
        raise argparse.ArgumentTypeError("a whole number of %s above 0, not %r" % (what, text))
    return value


def positive_seconds(text):
    return positive_number(text, "seconds")


def positive_jobs(text):
    return positive_number(text, "virtual PCs")


def names_of(allowed):
    """An option's value that may name several, separated by commas: "win32,win64"."""
    def names(text):
        chosen = [name.strip() for name in text.split(",") if name.strip()]
        wrong = [name for name in chosen if name not in allowed]
        if wrong or not chosen:
            raise argparse.ArgumentTypeError("%r: choose from %s" % (text, ", ".join(allowed)))
        return chosen
    return names


def missing_input(run_lists, sources):
    """Says which list or sources folder is missing, in one line; False when none is."""
    for path, what in [(run_list, "file") for run_list in run_lists] + [(sources, "folder")]:
        if not (os.path.isfile(path) if what == "file" else os.path.isdir(path)):
            print("vpc: %s: no such %s" % (path, what), file=sys.stderr)
            return True
    return False


def main(argv=None):
    parser = argparse.ArgumentParser(prog="vpc", description="Create and drive a virtual factory PC (Wine prefix).")
    parser.add_argument("--family", choices=FAMILIES, default="nt")
    parser.add_argument("--arch", choices=ARCHS, default="win32",
                        help="32-bit Windows (NT or 9x family) or 64-bit Windows (NT family)")
    parser.add_argument("--keep", action="store_true", help="keep the PC's folder afterwards")
    sub = parser.add_subparsers(dest="verb", required=True)
    sub.add_parser("template", help="create the cached template prefix and print its path")
    run = sub.add_parser("run", help="run one program in a fresh PC and print its output")
    run.add_argument("program")
    run.add_argument("args", nargs="*")
    check = sub.add_parser("check", help="check a run list (and its sources) without running it")
    check.add_argument("run_list")
    check.add_argument("--sources", help="folder with one folder per drive, named by its letter (C, D, ...)")
    can = sub.add_parser("can-run", help="exit 0 when this machine runs PCs of the architecture (win32 by "
                                         "default), else print why not and exit 1")
    can.add_argument("can_arch", nargs="?", choices=ARCHS, default="win32", metavar="ARCH")

    rehearse = sub.add_parser(
        "rehearse", help="run a run list (or several) to its end in a virtual PC and write a report",
        description="Checks the run list, then runs it in a fresh virtual PC as on the line: the engine, "
                    "every plug-in and the utilities in C:\\Velk, the sources on their drives, the three "
                    "Run values; the PC boots through all its restarts. The report (report.html and "
                    "report.txt in the output folder) shows each entry, a timeline, screenshots and what "
                    "changed on the machine at every boot. " + EXIT_CODES % (
                        "a missing list or sources folder, a check error (unless --force), a symbolic link in "
                        "the sources that leads nowhere, a rehearsal that could not be made") +
                    " Given several lists, or several machines (--arch or --family more than once, or with "
                    "commas), it rehearses each list on each machine, in up to --jobs virtual PCs at once, "
                    "and writes an index page of them all; its exit code is 0 only when every rehearsal "
                    "finished, 2 when one ended with 2 or the index could not be written, else 1.")
    rehearse.add_argument("run_lists", nargs="+", metavar="RUN.NUV", help="a run list, or several")
    rehearse.add_argument("--sources", required=True, metavar="DIR",
                          help="one folder per drive, named by its letter: DIR/C/VELK/APPS/... is C:\\VELK\\APPS\\...")
    rehearse.add_argument("--arch", dest="sub_arch", type=names_of(ARCHS), action="append", metavar="ARCH",
                          help="win32 or win64, as --arch before the verb; given more than once, or as "
                               "win32,win64, each list is rehearsed on each (win64 with 9x is left out: a 64-bit "
                               "PC is of the NT family only)")
    rehearse.add_argument("--family", dest="sub_family", type=names_of(FAMILIES), action="append", metavar="FAMILY",
                          help="nt or 9x, as --family before the verb; given more than once, or as nt,9x, each "
                               "list is rehearsed on each")
    rehearse.add_argument("--factory", action="store_true",
                          help="put the factory marker C:\\VELK\\KORB\\quorvane.exe on the PC (KORB behaviour)")
    rehearse.add_argument("--time-limit", type=positive_seconds, default=3600, metavar="S",
                          help="stop the PC after S seconds of running (default 3600)")
    rehearse.add_argument("--out", metavar="DIR",
                          help="the report's folder, new or holding an earlier report of this tool, outside the "
                               "sources and the list's folder (default build/rehearsal/LIST-ARCH-FAMILY-PLACE); "
                               "with several rehearsals, the folder that holds each one's folder and the index")
    rehearse.add_argument("--jobs", type=positive_jobs, metavar="N",
                          help="with several rehearsals, at most N at once (default: the processors this "
                               "process may use)")
    rehearse.add_argument("--keep", dest="sub_keep", action="store_true", help="keep the virtual PC's folder")
    rehearse.add_argument("--force", action="store_true", help="run the list even when the check finds errors")
    rehearse.add_argument("--junit", metavar="FILE", help=JUNIT_HELP)

    report = sub.add_parser(
        "report", help="make the report of a real PC from a copy of its C:\\VELK folder",
        description="Builds report.html and report.txt from a copy of a PC's C:\\VELK folder (the run list "
                    "with its stamps, the error file, the log) and a:\\LOG when given. " + EXIT_CODES % (
                        "a missing folder or --a-log file, a folder without RUN.NUV"))
    report.add_argument("velk", metavar="DIR", help="a copy of the PC's C:\\VELK folder")
    report.add_argument("--a-log", metavar="FILE", help="a copy of the diskette's a:\\LOG")
    report.add_argument("--out", metavar="DIR",
                        help="the report's folder, new or holding an earlier report of this tool, outside DIR "
                             "(default build/report/PARENT-NAME-PLACE of DIR)")
    report.add_argument("--junit", metavar="FILE", help=JUNIT_HELP)

    fleet = sub.add_parser(
        "fleet", help="one page for many PCs: copies of their C:\\VELK, ZIP files of them, rehearsals",
        description="Finds every copy of a PC's C:\\VELK folder under the folders given (with a:\\LOG beside it as "
                    "LOG, where there is one), in ZIP files and in rehearsals' folders, reads each as `vpc report` "
                    "does into a store (an SQLite file), and writes fleet.html, fleet.json and fleet.csv, with the "
                    "report of every PC that failed or did not finish. A second run reads only what is new or "
                    "changed. What cannot be read is named on the page; the folders given are only read. Exit "
                    "codes: 0 the page is written; 2 the tool could not do its work (a missing folder, an output "
                    "folder or store it may not use, an error of this machine), told in one line.")
    fleet.add_argument("folders", nargs="+", metavar="DIR", help="a folder (searched through) or a ZIP file")
    fleet.add_argument("--out", metavar="DIR",
                       help="the page's folder, new or holding an earlier page of this tool, outside every DIR "
                            "(default build/fleet/NAME-PLACE of the DIRs)")
    fleet.add_argument("--db", metavar="FILE",
                       help="the store: new, or one an earlier run wrote (default fleet.db in --out)")

    try:
        args = parser.parse_args(argv)
    except SystemExit as leaving:
        return leaving.code
    junit = None
    try:
        many = None
        if args.verb == "rehearse":
            from . import matrix
            lists, archs, families = matrix.requested(args.run_lists, args.sub_arch or [[args.arch]],
                                                      args.sub_family or [[args.family]])
            # One rehearsal is one, also where a machine asked for was left out.
            machines, dropped = matrix.machines_of(archs, families)
            if len(lists) * len(machines) > 1:
                many = matrix.plan(lists, archs, families, args.out)
            else:
                args.run_list = lists[0]
                args.sub_arch, args.sub_family = machines[0] if machines else (archs[0], families[0])
                if machines and dropped:
                    sys.stderr.write(matrix.left_out(dropped))
        if many:
            junit = junit_file(args, many.folders)
            code = 2 if missing_input(many.lists, args.sources) else matrix.rehearse_many(many, args, junit)
        else:
            # The default output folder is one per list and machine, or per copy of a PC.
            if args.verb == "rehearse" and not args.out:
                args.out = rehearsal_out(args.run_list, args.sub_arch, args.sub_family)
            elif args.verb == "report" and not args.out:
                args.out = report_out(args.velk)
            elif args.verb == "fleet" and not args.out:
                from .fleet import fleet_out
                args.out = fleet_out(args.folders)
            junit = junit_file(args)
            code = run_verb(parser, args, junit)
    except VpcError as error:
        print("vpc: %s" % error, file=sys.stderr)
        code, why = 2, str(error)
    except (OSError, subprocess.SubprocessError) as error:
        # Exit code 1 is the list's own failure: the tool's failures end with 2, in one line.
        print("vpc: %s" % error_line(error), file=sys.stderr)
        code, why = 2, error_line(error)
    else:
        why = "ended with exit code %d before it made a report" % code
    if junit and not junit.written:
        try:
            junit.write(failed_model("scripts/vpc %s" % args.verb, why))
        except (VpcError, OSError) as error:
            print("vpc: %s" % error, file=sys.stderr)
            code = 2
    return code


def junit_file(args, folders=None):
    """The file --junit names, refused before the run where it cannot be written or
    where a report's folder (args.out, or each of folders), which the next report
    empties, holds it."""
    if not getattr(args, "junit", None):
        return None
    for folder in folders or [args.out]:
        out = os.path.abspath(folder)
        if os.path.abspath(args.junit).startswith(out.rstrip(os.sep) + os.sep):
            raise VpcError("%s lies inside the report's folder %s, which the next report empties; name a file "
                           "outside it for --junit" % (args.junit, folder))
    junit = JUnitFile(args.junit)
    junit.begin("scripts/vpc %s" % args.verb)
    return junit


def run_verb(parser, args, junit=None):
    if args.verb == "check":
        return check_run_list(args.run_list, args.sources)
    if args.verb == "can-run":
        able, why = can_run(args.can_arch)
        if not able:
            print(why)
        return 0 if able else 1
    if args.verb == "rehearse":
        from .rehearse import rehearse
        arch, family = args.sub_arch, args.sub_family
        if arch == "win64" and family == "9x":
            print("vpc: a 64-bit PC is of the NT family only", file=sys.stderr)
            return 2
        if missing_input([args.run_list], args.sources):
            return 2
        return rehearse(args.run_list, args.sources, args.out, arch=arch, family=family, factory=args.factory,
                        time_limit=args.time_limit, keep=args.keep or args.sub_keep, force=args.force,
                        junit=junit)
    if args.verb == "report":
        from .report import make_report
        if not os.path.isdir(args.velk):
            print("vpc: %s: no such folder" % args.velk, file=sys.stderr)
            return 2
        if args.a_log and not os.path.isfile(args.a_log):
            print("vpc: %s: no such file" % args.a_log, file=sys.stderr)
            return 2
        return make_report(args.velk, args.out, args.a_log, junit=junit)
    if args.verb == "fleet":
        from .fleet import run_fleet
        return run_fleet(args.folders, args.out, args.db)
    if args.verb == "template":
        print(template_path(args.arch))
        return 0
    with VirtualPC(family=args.family, arch=args.arch, keep=args.keep) as pc:
        result = pc.run(args.program, *args.args)
        sys.stdout.write(result.stdout)
        sys.stderr.write(result.stderr)
        if args.keep:
            print("PC kept at " + pc.root, file=sys.stderr)
        return result.code

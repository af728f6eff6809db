"""scripts/vpc: the virtual PC's verbs for people."""

import argparse
import sys

from .check import check_run_list
from .host import ARCHS, can_run
from .pc import VirtualPC
from .prefix import template_path


def main(argv=None):
    parser = argparse.ArgumentParser(prog="vpc", description="Create and drive a virtual factory PC (Wine prefix).")
    parser.add_argument("--family", choices=("nt", "9x"), default="nt")
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
    args = parser.parse_args(argv)
    if args.verb == "check":
        return check_run_list(args.run_list, args.sources)
    if args.verb == "can-run":
        able, why = can_run(args.can_arch)
        if not able:
            print(why)
        return 0 if able else 1
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

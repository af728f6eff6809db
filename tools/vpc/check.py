"""The run-list check: the engine's own reading of the format, built natively. It is also
the one reading of a run list that the other tools show (read_run_list)."""

import fcntl
import json
import os
import subprocess
import sys

from .host import VpcError

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
CHECKER = os.path.join(REPO, "build", "host", "tools", "run_list_check", "run-list-check")
BUILD_LOG = os.path.join(REPO, "build", "run-list-check-build.log")
# Held while the check program is built: rehearsals side by side (many lists at once, or
# tests in parallel) would otherwise build in one folder at once and write one log.
BUILD_LOCK = os.path.join(REPO, "build", "run-list-check-build.lock")


def build_checker():
    """Builds the check program when it is not up to date; False when the build failed."""
    os.makedirs(os.path.dirname(BUILD_LOG), exist_ok=True)
    with open(BUILD_LOCK, "a") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        steps = [["cmake", "--build", "--preset", "host", "--target", "run-list-check"]]
        if not os.path.exists(os.path.join(REPO, "build", "host", "CMakeCache.txt")):
            steps.insert(0, ["cmake", "--preset", "host"])
        with open(BUILD_LOG, "w") as out:
            for step in steps:
                if subprocess.run(step, cwd=REPO, stdin=subprocess.DEVNULL, stdout=out,
                                  stderr=subprocess.STDOUT).returncode:
                    return False
    return True


def check_run_list(run_list, sources=None, output=None):
    """Runs the check on a run list (and its sources folder); returns its exit code. Its
    findings go to output (a file object) or to standard output."""
    if not build_checker():
        print("vpc: building the run-list check failed; see " + BUILD_LOG, file=sys.stderr)
        return 2
    return subprocess.run([CHECKER, as_operand(run_list)] + (["--sources", as_operand(sources)] if sources else []),
                          stdin=subprocess.DEVNULL, stdout=output).returncode


def as_operand(path):
    """A path as the check takes it: one that starts with "-" is no option of its."""
    return os.path.join(".", path) if path.startswith("-") else path


def read_run_list(run_list, build=True, data=None):
    """The run list as the engine reads it, from the check program: a dict with "entries"
    (number, line_number, engine_line_number, cut, line, formatted, wrapper, command,
    cleanup, timeout, timeout_seconds, reboot, stamps), "findings", "errors" and
    "warnings". data: the list's bytes, read from run_list's place earlier. build=False
    for a caller that polls and has built the program already. VpcError when the list
    cannot be read."""
    if build and not build_checker():
        raise VpcError("building the run-list check failed; see " + BUILD_LOG)
    try:
        result = subprocess.run([CHECKER, "--json", as_operand(run_list) if data is None else "-"],
                                input=data or b"",
                                capture_output=True)
    except OSError as error:
        raise VpcError("the run-list check cannot be started: %s" % error)
    if result.returncode not in (0, 1):
        raise VpcError(result.stderr.decode("utf-8", "replace").strip() or "%s: cannot be read" % run_list)
    return json.loads(result.stdout.decode("utf-8"))

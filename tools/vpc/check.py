"""The run-list check: the engine's own reading of the format, built natively."""

import os
import subprocess
import sys

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
CHECKER = os.path.join(REPO, "build", "host", "tools", "run_list_check", "run-list-check")


def check_run_list(run_list, sources=None, output=None):
    """Runs the check on a run list (and its sources folder); returns its exit code. Its
    findings go to output (a file object) or to standard output."""
    log = os.path.join(REPO, "build", "run-list-check-build.log")
    os.makedirs(os.path.dirname(log), exist_ok=True)
    steps = [["cmake", "--build", "--preset", "host", "--target", "run-list-check"]]
    if not os.path.exists(os.path.join(REPO, "build", "host", "CMakeCache.txt")):
        steps.insert(0, ["cmake", "--preset", "host"])
    with open(log, "w") as out:
        for step in steps:
            if subprocess.run(step, cwd=REPO, stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT).returncode:
                print("vpc: building the run-list check failed; see " + log, file=sys.stderr)
                return 2
    return subprocess.run([CHECKER, run_list] + (["--sources", sources] if sources else []),
                          stdin=subprocess.DEVNULL, stdout=output).returncode

"""A real browser for the tests of this tool's pages: headless Chromium on a page from
disk, with the network switched off where this machine allows it."""

import os
import subprocess

import pytest

CHROMIUM = "/usr/bin/chromium"


def chromium(page, folder, *options):
    """Runs the browser on the page with the network switched off where this machine
    allows it (a network namespace of its own), logging every request it makes."""
    if not os.access(CHROMIUM, os.X_OK):
        pytest.fail("%s is missing: run scripts/setup" % CHROMIUM)
    isolated = subprocess.run(["unshare", "-n", "true"], capture_output=True).returncode == 0
    profile = os.path.join(folder, "profile-%d" % len(os.listdir(folder)))
    command = (["unshare", "-n"] if isolated else []) + [
        CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
        "--disable-background-networking", "--disable-component-update", "--disable-sync",
        "--user-data-dir=" + profile, *options, "file://" + page]
    result = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=120)
    assert result.returncode == 0, result.stderr
    return result.stdout

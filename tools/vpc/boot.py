"""Powering the PC on and off: boots, restarts, idleness, and power cuts.

Wine's restart runs the Run key, and every restart a program asks for runs it again, so
a whole multi-restart installation runs by itself once the first boot is started.
"""

import os
import signal
import subprocess
import time

from .host import VpcError
from .prefix import run_quiet

# Boots are counted from wineboot's own trace: every boot, the first one and each restart
# a program asks for, processes the Run key once, and the restarts' wineboot processes
# inherit the first one's standard error. The Run key is what a boot means to the engine.
BOOT_TRACE = "-all,trace+wineboot"
BOOT_MARK = b'Processing L"Run" entries under HKLM'


class Power:
    def _start_server(self):
        """A persistent server makes each setup command cost a fraction of a second."""
        run_quiet(["wineserver", "-p"], self.env())
        run_quiet(self.wine + ["cmd", "/c", "exit"], self.env())
        self._server_up = True

    def _ensure_server(self):
        # Started only when a program must run: a new session's start carries out the
        # deletions scheduled for the next boot, so reading files after a boot must
        # not start one.
        if not self._server_up:
            self._start_server()

    def stop(self):
        """Ends every process of the PC and its wineserver (power off)."""
        # A restart under way may start a new server just after a kill: repeat until
        # no server answers (wineserver -k exits 1 when there is none).
        self._server_up = False
        for _ in range(20):
            killed = subprocess.run(["wineserver", "-k"], env=self.env(), stdin=subprocess.DEVNULL,
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
            if killed.returncode != 0:
                return
            subprocess.run(["wineserver", "-w"], env=self.env(), stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
        raise VpcError("the PC's wineserver would not stop")

    def process_ids(self):
        """The Linux processes of the PC as they are now, its wineserver first: every
        rename and every other change a program asks of the file system goes through it,
        so once it has ended nothing more is done."""
        mark = ("WINEPREFIX=" + self.prefix).encode()
        pids = [pid for pid in process_ids() if mark in environment(pid)]
        return sorted(pids, key=lambda pid: b"wineserver" not in command_line(pid))

    def power_cut(self, known=()):
        """Ends every process of the PC in the same instant, its wineserver included, as a
        power loss would: nothing gets to finish a write, save or clean up. known: process
        ids taken beforehand (process_ids), ended first, without the time a search of
        every process takes. Returns how many processes were ended."""
        ended = kill_all(known)
        # A process may be starting another as the first ones end: look again.
        for _ in range(5):
            pids = self.process_ids()
            ended += kill_all(pids)
            if not pids:
                break
        for proc in self._background:
            proc.poll()
        self.stop()
        return ended

    def boot(self):
        """Starts the PC as after power-on: Wine's restart handling and the Run key."""
        self.stop()
        # No persistent server: it ends by itself once the last program has ended,
        # which is what wait_idle waits for.
        env = self.env()
        env["WINEDEBUG"] = BOOT_TRACE
        out_path, err_path = self._output_files("wineboot")
        self._boot_logs.append(err_path)
        with open(out_path, "wb") as out, open(err_path, "wb") as err:
            # wineboot starts the Run-key programs before it ends, so once it has ended
            # the server lives exactly as long as some program of the PC runs.
            subprocess.run(self.wine + ["wineboot"], env=env, cwd=self.host_path('C:\\'),
                           stdin=subprocess.DEVNULL, stdout=out, stderr=err, timeout=300)

    def wait_idle(self, timeout=300, give_up=None):
        """Waits until every program of the PC has ended (restarts included). give_up: a
        test looked at every tenth of a second; once it holds, the wait ends at once and
        returns False (the PC may still run). True when the PC is idle."""
        waiter = subprocess.Popen(["wineserver", "-w"], env=self.env(), stdin=subprocess.DEVNULL,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + timeout
        while waiter.poll() is None:
            if (give_up and give_up()) or time.monotonic() > deadline:
                waiter.kill()
                waiter.wait()
                if give_up and give_up():
                    return False
                raise VpcError("the PC was not idle within %s s" % timeout)
            time.sleep(0.1)
        for proc in self._background:
            try:
                proc.wait(10)
            except subprocess.TimeoutExpired:
                pass
        self._server_up = False
        return True

    def boot_count(self):
        """Boots since the PC was made: the first of each boot() and every restart after it."""
        count = 0
        for path in self._boot_logs:
            with open(path, "rb") as f:
                count += f.read().count(BOOT_MARK)
        return count


def process_ids():
    return [int(name) for name in os.listdir("/proc") if name.isdigit() and int(name) != os.getpid()]


def kill_all(pids):
    """Ends the processes at once; how many there still were."""
    ended = 0
    for pid in pids:
        try:
            os.kill(pid, signal.SIGKILL)
            ended += 1
        except ProcessLookupError:
            pass
    return ended


def command_line(pid):
    try:
        with open("/proc/%d/cmdline" % pid, "rb") as f:
            return f.read()
    except OSError:
        return b""


def environment(pid):
    """A process's environment as its entries; empty for processes of other users."""
    try:
        with open("/proc/%d/environ" % pid, "rb") as f:
            return f.read().split(b"\0")
    except OSError:
        return []

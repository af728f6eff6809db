"""VirtualPC: one factory PC, made of its prefix and drives, registry, screen and power."""

import os
import shutil
import subprocess
import tempfile

from .boot import Power
from .host import VpcError, check_arch, wine_command
from .prefix import DrivesAndFiles, copy_template, template_path, wine_env
from .registry import Registry
from .screen import Screen

FAMILIES = ("nt", "9x")


class Result:
    def __init__(self, code, stdout, stderr):
        self.code = code
        self.stdout = stdout
        self.stderr = stderr

    def __repr__(self):
        return "Result(code=%r, stdout=%r, stderr=%r)" % (self.code, self.stdout[-500:], self.stderr[-500:])


class VirtualPC(DrivesAndFiles, Registry, Screen, Power):
    """One PC. Use as a context manager, or call close() to stop it and remove it.

    arch: "win32" (a 32-bit Windows, NT or 9x family) or "win64" (a 64-bit Windows,
    NT family only: the 9x family has no 64-bit form)."""

    def __init__(self, family="nt", fixed_drives=(), cdrom=None, display=False, root=None, keep=False,
                 arch="win32"):
        if family not in FAMILIES:
            raise VpcError("family must be 'nt' or '9x'")
        check_arch(arch)
        if arch == "win64" and family != "nt":
            raise VpcError("a 64-bit PC is of the NT family only")
        self.family = family
        self.arch = arch
        self.wine = wine_command(arch)
        self.keep = keep
        self.root = tempfile.mkdtemp(prefix="vpc-", dir=root)
        self.prefix = os.path.join(self.root, "prefix")
        self.logs = os.path.join(self.root, "logs")
        os.makedirs(self.logs)
        self._xvfb = None
        self.display = None
        self._serial = 0
        self._background = []
        self._boot_logs = []
        self._server_up = False
        try:
            if display:
                self._start_xvfb()
            copy_template(template_path(arch), self.prefix)
            self._make_drives(fixed_drives, cdrom)
            self._start_server()
            if family == "9x":
                self.set_reg(r"HKCU\Software\Wine", "Version", "win98")
            if self.cdrom or display:
                if self.cdrom:
                    # Wine takes a drive for a CD-ROM only with this value and its device link.
                    self.set_reg(r"HKLM\Software\Wine\Drives", self.cdrom + ":", "cdrom")
                if display:
                    self.set_reg(r"HKCU\Software\Wine\Drivers", "Graphics", "x11")
                # Drive types and the graphics driver are read when the session starts.
                self.stop()
                self._start_server()
        except Exception:
            self.close()
            raise

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def env(self):
        return wine_env(self.prefix, self.arch, self.display)

    def close(self):
        for proc in self._background:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
        if os.path.isdir(self.prefix):
            self.stop()
        self._stop_xvfb()
        if not self.keep:
            shutil.rmtree(self.root, ignore_errors=True)

    # ----- programs ---------------------------------------------------------------------
    def _output_files(self, name):
        self._serial += 1
        stem = os.path.join(self.logs, "%03d-%s" % (self._serial, os.path.basename(name).replace("\\", "_")))
        return stem + ".out", stem + ".err"

    def run(self, program, *args, timeout=120, check=False):
        """Runs a program in the PC and waits for it; returns its exit code and output."""
        self._ensure_server()
        out_path, err_path = self._output_files(program)
        with open(out_path, "wb") as out, open(err_path, "wb") as err:
            proc = subprocess.Popen(self.wine + [program, *args], env=self.env(), cwd=self.host_path('C:\\'),
                                    stdin=subprocess.DEVNULL, stdout=out, stderr=err)
            try:
                code = proc.wait(timeout)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()
                raise VpcError("%s did not end within %s s" % (program, timeout))
        with open(out_path, "rb") as f:
            stdout = f.read().decode("latin-1")
        with open(err_path, "rb") as f:
            stderr = f.read().decode("latin-1")
        result = Result(code, stdout, stderr)
        if check and code != 0:
            raise VpcError("%s failed: %r" % (program, result))
        return result

    def start(self, program, *args):
        """Starts a program in the PC without waiting; it ends with the PC at the latest."""
        self._ensure_server()
        out_path, err_path = self._output_files(program)
        with open(out_path, "wb") as out, open(err_path, "wb") as err:
            proc = subprocess.Popen(self.wine + [program, *args], env=self.env(), cwd=self.host_path('C:\\'),
                                    stdin=subprocess.DEVNULL, stdout=out, stderr=err)
        self._background.append(proc)
        return proc

    # ----- state ------------------------------------------------------------------------
    def dump(self, keys=(), folders=("C:\\Velk",)):
        state = {"boots": self.boot_count(), "files": {}, "registry": {}}
        for folder in folders:
            if self.exists(folder):
                state["files"].update(self.list_files(folder))
        for key in keys:
            values = self.query_key(key)
            state["registry"][key] = None if values is None else {
                ("" if n is None else n): v for n, (t, v) in values.items()}
        return state

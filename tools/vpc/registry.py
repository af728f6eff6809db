"""The PC's registry, through Windows' own reg.exe.

In a 64-bit PC every command names the 64-bit view: the 64-bit programs under test read
that view, and a reg.exe started another way would write the 32-bit one (Wow6432Node).
"""

import time

from .host import VpcError

RUN_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Run"
VIEW_OPTIONS = {"win32": [], "win64": ["/reg:64"]}
# reg.exe ends with 1 for every failure; only its text tells a key or value that is not
# there ("Unable to find the specified registry key" or "... value") from the rest.
NOT_FOUND = "Unable to find the specified registry"
# A failure other than "not found" is tried again this often, with this pause between:
# on a loaded machine a reg.exe start can fail once.
ATTEMPTS = 3
PAUSE = 0.5


def is_not_found(result):
    return result.code != 0 and NOT_FOUND in result.stdout + result.stderr


class Registry:
    def _reg(self, *args, view=None):
        """Runs reg.exe in the PC's own view, or in the view ("32" or "64") asked for."""
        options = ["/reg:" + view] if view else VIEW_OPTIONS[self.arch]
        return self.run("reg", *args, *options)

    def _checked_reg(self, *args, view=None):
        """Runs reg.exe until it succeeds or finds no such key or value; returns its last
        result. Any other failure is tried again, then raises VpcError."""
        for attempt in range(ATTEMPTS):
            if attempt:
                time.sleep(PAUSE)
            result = self._reg(*args, view=view)
            if result.code == 0 or is_not_found(result):
                return result
        text = (result.stdout + result.stderr).strip().splitlines()
        raise VpcError("reg %s failed %d times (exit code %d): %s" % (
            " ".join(args), ATTEMPTS, result.code, text[-1] if text else "no output"))

    def set_reg(self, key, name, value, kind=None, view=None):
        if kind is None:
            kind = "REG_DWORD" if isinstance(value, int) else "REG_SZ"
        args = ["add", key, "/f", "/t", kind, "/d", str(value)]
        args[2:2] = ["/ve"] if name is None else ["/v", name]
        result = self._checked_reg(*args, view=view)
        if result.code != 0:
            raise VpcError("reg add %s failed: %r" % (key, result))

    def delete_reg(self, key, name=None, view=None):
        """Deletes a value, or the whole key when name is None; absent is fine, any other
        failure raises VpcError."""
        args = ["delete", key, "/f"]
        if name is not None:
            args[2:2] = ["/v", name]
        self._checked_reg(*args, view=view)

    def _query(self, key, view):
        result = self._checked_reg("query", key, view=view)
        return result.stdout if result.code == 0 else None

    def query_key(self, key, view=None):
        """Values of one key as {name: (type, value)}, or None when the key is absent."""
        text = self._query(key, view)
        if text is None:
            return None
        values = {}
        for line in text.splitlines():
            if not line.startswith("    "):
                continue
            parts = [p for p in line.strip().split("    ") if p != ""]
            if len(parts) >= 2 and parts[1].startswith("REG_"):
                name = parts[0] if parts[0] != "(Default)" else None
                text = parts[2].strip() if len(parts) > 2 else ""
                value = int(text, 16) if parts[1] == "REG_DWORD" else text
                values[name] = (parts[1], value)
        return values

    def subkeys(self, key, view=None):
        """Names of a key's direct subkeys, or None when the key is absent."""
        text = self._query(key, view)
        if text is None:
            return None
        names = []
        for line in text.splitlines():
            line = line.strip()
            if line.startswith("HKEY_") and "\\" in line:
                parent, _, name = line.rpartition("\\")
                if parent.lower().endswith(key.split("\\", 1)[-1].lower()) and name:
                    names.append(name)
        return names

    def get_reg(self, key, name, view=None):
        """One value, or None when the key or value is absent."""
        values = self.query_key(key, view)
        if values is None or name not in values:
            return None
        return values[name][1]

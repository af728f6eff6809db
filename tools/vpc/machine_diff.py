"""What changed on the machine: snapshots of every drive's files and of Wine's registry
files, read from Linux, and the differences between two snapshots.

Nothing here starts a program in the PC: a new Wine session would carry out the
deletions scheduled for the next boot and so change what it is meant to observe. The
registry is read from the files the wineserver saves (system.reg for HKLM, user.reg for
HKCU, userdef.reg for HKU\\.Default), which hold the registry as text.
"""

import os
import re
import stat

from .prefix import file_attributes

REGISTRY_FILES = (("system.reg", "HKLM"), ("user.reg", "HKCU"), ("userdef.reg", "HKU\\.Default"))


def linux_fonts(key):
    return (key, ("values naming a font file of Linux (\\??\\unix\\...)",
                  lambda name, value: value.startswith("\\??\\unix\\")), "the Linux fonts Wine registers")


# What Wine itself changes, whatever the PC runs: left out of every diff and named in the
# report. (key, values, why): the key with everything under it, or only those values of
# it and of its subkeys that the test (name, shown value) accepts.
WINE_CHURN = (
    ("HKLM\\Software\\Wine", None, "Wine's own settings"),
    ("HKCU\\Software\\Wine", None, "Wine's own settings"),
    ("HKCU\\Console", None, "the console windows' settings, written when the first console program starts"),
    ("HKLM\\System\\CurrentControlSet\\Control\\Class",
     ("values DriverDate and DriverDateData", lambda name, value: name in ("DriverDate", "DriverDateData")),
     "the display driver's date, written at every start"),
    linux_fonts("HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts"),
    linux_fonts("HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Fonts"),
    linux_fonts("HKLM\\Software\\Wow6432Node\\Microsoft\\Windows NT\\CurrentVersion\\Fonts"),
    linux_fonts("HKLM\\Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Fonts"),
)
# The values of a key the rehearsal itself uses, left out of every diff.
HARNESS_VALUES = (("HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce", "vpc gate"),)
HARNESS_FOLDER = "C:\\vpc"


class Snapshot:
    """The machine at one instant: {windows path: (kind, size, mtime_ns, attributes)}
    for the files and folders of every drive, and {key: {value name: value}} for the
    registry, where a value is its text as Wine saves it. file_times and key_times:
    {path or key: seconds since 1970} of each one's last change, which tell which entry
    made it."""

    def __init__(self, files, registry, file_times=None, key_times=None):
        self.files = files
        self.registry = registry
        self.file_times = file_times or {}
        self.key_times = key_times or {}


def take_snapshot(pc, left_out=(HARNESS_FOLDER,), registry_folder=None):
    """Reads the PC's drives and registry files. left_out: folders not read.
    registry_folder: where registry_save wrote the registry; else the prefix's own
    files, which the wineserver writes every 30 seconds and when it ends."""
    files, file_times = {}, {}
    skipped = tuple(p.lower() + "\\" for p in left_out)
    for letter, folder in pc.drives().items():
        files.update(read_drive(letter, folder, skipped, file_times))
    registry, key_times = {}, {}
    for name, root in REGISTRY_FILES:
        path = os.path.join(registry_folder or pc.prefix, name)
        if os.path.exists(path):
            with open(path, "rb") as f:
                registry.update(parse_registry_text(f.read().decode("utf-8", "replace"), root, key_times))
    return Snapshot(files, registry, file_times, key_times)


def read_drive(letter, folder, skipped=(), times=None):
    found = {}
    times = {} if times is None else times
    if not os.path.isdir(folder):
        return found
    try:
        # The drive's root: what is removed from it is known by its time.
        times[letter + ":"] = os.stat(folder).st_ctime_ns / 1e9
    except OSError:
        pass
    for root, dirs, names in os.walk(folder):
        rel_root = os.path.relpath(root, folder)
        base = letter + ":\\" + ("" if rel_root == "." else rel_root.replace("/", "\\") + "\\")
        for name in sorted(dirs):
            path = base + name
            if (path.lower() + "\\").startswith(skipped):
                dirs.remove(name)
        for name in dirs + names:
            full = os.path.join(root, name)
            try:
                info = os.lstat(full)
            except OSError:
                continue  # gone while it was read
            try:
                attributes = file_attributes(full)
            except OSError:
                continue  # gone while it was read
            times[base + name] = info.st_ctime_ns / 1e9
            if stat.S_ISDIR(info.st_mode):
                found[base + name] = ("folder", 0, 0, attributes)
            else:
                found[base + name] = ("file", info.st_size, info.st_mtime_ns, attributes)
    return found


# ----- Wine's registry files ---------------------------------------------------------------

KEY_LINE = re.compile(r"^\[(.*)\](?: (\d+))?$")
# Windows file times count 100 ns from 1601.
FILETIME_1970 = 116444736000000000


def parse_registry_text(text, root, times=None):
    """{key: {value name: value text}} of one of Wine's registry files. Every key is
    there, also one that is only implied by its subkeys. The default value's name is "".
    times, when given, gets {key: seconds since 1970} of each key's last change."""
    keys = {}
    times = {} if times is None else times
    name = None
    values = None
    pending = ""
    for line in text.split("\n"):
        line = line.rstrip("\r")
        if pending:
            line = pending + line.lstrip()
            pending = ""
        if line.endswith("\\") and values is not None and not line.startswith("["):
            # A long hex value goes on over the next lines.
            pending = line[:-1]
            continue
        if line.startswith("["):
            match = KEY_LINE.match(line)
            if not match:
                values = None
                continue
            name = root + "\\" + key_path(match.group(1)) if match.group(1) else root
            values = keys.setdefault(name, {})
            if match.group(2):
                times[name] = float(match.group(2))
            parent = name.rpartition("\\")[0]
            while parent and parent not in keys and parent != root.rpartition("\\")[0]:
                keys[parent] = {}
                parent = parent.rpartition("\\")[0]
            continue
        if line.startswith("#time=") and values is not None:
            try:
                times[name] = (int(line[6:], 16) - FILETIME_1970) / 1e7
            except ValueError:
                pass
            continue
        if values is None or not line or line.startswith("#") or line.startswith(";"):
            continue
        if line.startswith("@="):
            values[""] = line[2:]
        elif line.startswith('"'):
            end = closing_quote(line, 1)
            if end > 0 and line[end + 1:end + 2] == "=":
                values[unescape(line[1:end])] = line[end + 2:]
    return keys


def key_path(text):
    """A key's path as Wine writes it ("Software\\\\Velk") in plain form."""
    return "\\".join(unescape(part) for part in text.split("\\\\"))


def closing_quote(line, start):
    i = start
    while i < len(line):
        if line[i] == "\\":
            i += 2
            continue
        if line[i] == '"':
            return i
        i += 1
    return -1


ESCAPES = {"a": "\a", "b": "\b", "t": "\t", "n": "\n", "v": "\v", "f": "\f", "r": "\r", "e": "\x1b"}


def unescape(text):
    out = []
    i = 0
    while i < len(text):
        c = text[i]
        if c != "\\" or i + 1 == len(text):
            out.append(c)
            i += 1
            continue
        nxt = text[i + 1]
        if nxt == "x":
            digits = re.match(r"[0-9a-fA-F]{1,4}", text[i + 2:])
            if digits:
                out.append(chr(int(digits.group(0), 16)))
                i += 2 + len(digits.group(0))
                continue
        elif nxt in "01234567":
            digits = re.match(r"[0-7]{1,3}", text[i + 1:]).group(0)
            out.append(chr(int(digits, 8)))
            i += 1 + len(digits)
            continue
        out.append(ESCAPES.get(nxt, nxt))
        i += 2
    return "".join(out)


def show_value(text):
    """A value as a person reads it: "text", 0x1 (1), or its type and bytes."""
    if text.startswith('"') and text.endswith('"'):
        return unescape(text[1:-1])
    kind = re.match(r"^str\((\w+)\):\"(.*)\"$", text)
    if kind:
        body = unescape(kind.group(2))
        if kind.group(1) == "7":
            return " | ".join(p for p in body.split("\0") if p) + " (multi-string)"
        return body + (" (expandable)" if kind.group(1) == "2" else "")
    if text.startswith("dword:"):
        number = int(text[6:], 16)
        return "0x%x (%d)" % (number, number)
    return text


# ----- differences -------------------------------------------------------------------------

def under(key, top):
    return key.lower() == top.lower() or key.lower().startswith(top.lower() + "\\")


def is_churn_key(key):
    return any(values is None and under(key, top) for top, values, _ in WINE_CHURN)


def is_churn_value(key, name, shown):
    return any(under(key, top) and (values is None or values[1](name, shown)) for top, values, _ in WINE_CHURN)


def is_harness_value(key, name):
    return any(key.lower() == k.lower() and name.lower() == n.lower() for k, n in HARNESS_VALUES)


def compare(before, after):
    """What changed from one snapshot to the next, in sorted lists:
    files_added/changed/removed: [(path, kind, attributes)], a folder's path ending in "\\";
    keys_added/removed: [key]; values_added/removed: [(key, name, shown value)];
    values_changed: [(key, name, shown before, shown after)]."""
    changes = {name: [] for name in ("files_added", "files_changed", "files_removed", "keys_added",
                                     "keys_removed", "values_added", "values_changed", "values_removed")}

    def entry(path, info):
        return (path + ("\\" if info[0] == "folder" else ""), info[0], info[3])

    for path in sorted(set(before.files) | set(after.files), key=str.lower):
        old, new = before.files.get(path), after.files.get(path)
        if old is None:
            changes["files_added"].append(entry(path, new))
        elif new is None:
            changes["files_removed"].append(entry(path, old))
        elif new[0] != old[0]:
            changes["files_removed"].append(entry(path, old))
            changes["files_added"].append(entry(path, new))
        elif new[0] == "file" and old != new:
            changes["files_changed"].append(entry(path, new))

    for key in sorted(set(before.registry) | set(after.registry), key=str.lower):
        if is_churn_key(key):
            continue
        old, new = before.registry.get(key), after.registry.get(key)
        if old is None:
            changes["keys_added"].append(key)
        elif new is None:
            changes["keys_removed"].append(key)
        old, new = old or {}, new or {}
        for name in sorted(set(old) | set(new), key=str.lower):
            shown = show_value(new[name] if name in new else old[name])
            if is_harness_value(key, name) or is_churn_value(key, name, shown):
                continue
            if name not in old:
                changes["values_added"].append((key, name, show_value(new[name])))
            elif name not in new:
                changes["values_removed"].append((key, name, show_value(old[name])))
            elif old[name] != new[name]:
                changes["values_changed"].append((key, name, show_value(old[name]), show_value(new[name])))
    return changes


def churn_descriptions():
    """What every diff leaves out, for the report: (key, which of it, why)."""
    return [(top, values[0] if values else "the key and everything under it", why) for top, values, why in WINE_CHURN]

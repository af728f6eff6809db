"""Which entry of the run list made each change of a boot.

A change is placed by its time: a file's or folder's change time (ctime, which no
installer can set back, unlike the modification time), a registry key's time of last
change as Wine keeps it. Each entry ran between two instants the rehearsal observed
from outside, by reading the run list's stamps: the last reading before its START
stamp and the first reading with its last stamp. A change whose time lies in the
windows of two entries is given to both ("entry 2 or 3"), never guessed.

What a time cannot tell: a file or key changed by two entries shows under the later
one. A removed file or key is known to be gone only by the last change of the folder
or key that held it, so it goes to every entry of the boot up to that time, unless it
lay in the clean-up folder of an entry that was cleaned up in the boot: the engine
removes that folder. Where a key that was there before the boot has several values
changed, only the last change's time is known, so its values, too, go to every entry
of the boot up to it.

Files and the run list's versions are stamped by the same clock of the kernel. The
wineserver's key times come from a finer clock, which may run ahead of the files'
by one tick of the kernel's.
"""

KEY_SLACK = 0.01
# The number that stands for no entry: the engine's own work, Wine or a restart.
NO_ENTRY = 0

CHANGE_KINDS = ("files_added", "files_changed", "files_removed", "keys_added", "keys_removed", "values_added",
                "values_changed", "values_removed")


def entries_at(windows, when, since=None, slack=0.0):
    """The numbers of the entries whose window meets the span from when - slack (or
    from since, when given) to when."""
    if when is None:
        # Nothing tells when: any entry of the boot, or none of them.
        return [w["entry"] for w in windows] + [NO_ENTRY]
    earliest = since if since is not None else when - slack
    found = [w for w in windows if w["from"] <= when and w["to"] >= earliest]
    # Where the span reaches past the entries' windows, the engine, Wine or a restart
    # may have made the change too.
    reached = earliest
    for window in sorted(found, key=lambda w: w["from"]):
        if window["from"] > reached:
            break
        reached = max(reached, window["to"])
    numbers = [w["entry"] for w in found]
    return numbers + [NO_ENTRY] if reached < when or not numbers else numbers


def nearest_time(path, lowered, separator="\\"):
    """The time of the path, or of its nearest ancestor that has one. lowered: the
    times by lower-case path (Windows ignores case)."""
    while path:
        if path.lower() in lowered:
            return lowered[path.lower()]
        if separator not in path:
            return None
        path = path.rpartition(separator)[0]
    return None


def earliest_under(path, times, added):
    """An added folder or key was made no later than anything added under it."""
    own = times.get(path)
    lowered = path.lower() + "\\"
    inside = [times[p] for p in added if p.lower().startswith(lowered) and times.get(p) is not None]
    candidates = [t for t in [own] + inside if t is not None]
    return min(candidates) if candidates else None


def under_folder(path, folder):
    return path.lower() == folder.lower() or path.lower().startswith(folder.lower().rstrip("\\") + "\\")


def change_times(changes, file_times, key_times, cleanups=None):
    """[(kind, item, time, widen, slack, entry)] for every change: widen when only the
    last of several changes is timed; entry when the list itself tells which entry made
    it. cleanups: {entry: clean-up folder} of the entries cleaned up in the boot."""
    cleanups = cleanups or {}
    file_lowered = {path.lower(): value for path, value in file_times.items()}
    key_lowered = {key.lower(): value for key, value in key_times.items()}
    added_files = [item[0].rstrip("\\") for item in changes["files_added"]]
    added_keys = list(changes["keys_added"])
    timed = []
    for item in changes["files_added"]:
        path = item[0].rstrip("\\")
        when = earliest_under(path, file_times, added_files) if item[1] == "folder" else file_times.get(path)
        timed.append(("files_added", item, when, False, 0.0, None))
    for item in changes["files_changed"]:
        timed.append(("files_changed", item, file_times.get(item[0].rstrip("\\")), False, 0.0, None))
    for item in changes["files_removed"]:
        path = item[0].rstrip("\\")
        cleaned = [n for n, folder in sorted(cleanups.items()) if folder and under_folder(path, folder)]
        timed.append(("files_removed", item, nearest_time(path, file_lowered), True, 0.0,
                      cleaned[0] if len(cleaned) == 1 else None))
    for key in changes["keys_added"]:
        timed.append(("keys_added", key, earliest_under(key, key_times, added_keys), False, KEY_SLACK, None))
    for key in changes["keys_removed"]:
        timed.append(("keys_removed", key, nearest_time(key, key_lowered), True, KEY_SLACK, None))
    new_keys = {k.lower() for k in changes["keys_added"]}
    # Adding or removing a subkey changes its key's time too: the key's time then tells
    # only the last of those changes.
    parents = {k.rpartition("\\")[0].lower() for k in changes["keys_added"] + changes["keys_removed"]}
    per_key = {}
    for kind in ("values_added", "values_changed", "values_removed"):
        for item in changes[kind]:
            per_key.setdefault(item[0].lower(), []).append(kind)
    for kind in ("values_added", "values_changed", "values_removed"):
        for item in changes[kind]:
            key = item[0]
            widen = key.lower() not in new_keys and (len(per_key[key.lower()]) > 1 or key.lower() in parents)
            gone = kind == "values_removed" and key.lower() not in key_lowered
            timed.append((kind, item, nearest_time(key, key_lowered), widen or gone, KEY_SLACK, None))
    return timed


def attribute(changes, file_times, key_times, windows, since, cleanups=None):
    """The boot's changes in groups by the entries that may have made them:
    [{"entries": [n, ...], "changes": {kind: [item, ...]}}], the group of changes
    outside every entry's window (the engine's own work, Wine's restart) last, with
    entries []. windows: [{"entry": n, "from": t, "to": t}] of the boot."""
    groups = {}
    for kind, item, when, widen, slack, entry in change_times(changes, file_times, key_times, cleanups):
        numbers = (entry,) if entry else tuple(entries_at(windows, when, since if widen else None, slack))
        group = groups.setdefault(numbers, {kind_name: [] for kind_name in CHANGE_KINDS})
        group[kind].append(item)
    ordered = sorted(groups, key=lambda numbers: (numbers == (NO_ENTRY,), [n or 10 ** 9 for n in numbers]))
    return [{"entries": list(numbers), "changes": groups[numbers]} for numbers in ordered]


def who(numbers):
    """"entry 2", "entry 2 or 3", "entry 4 or no entry", or "no entry (...)"."""
    entries = [n for n in numbers if n != NO_ENTRY]
    if not entries:
        return NO_ENTRY_TEXT
    text = "entry %d" % entries[0] if len(entries) == 1 else (
        "entry " + ", ".join(str(n) for n in entries[:-1]) + " or %d" % entries[-1])
    return text + (" or " + NO_ENTRY_TEXT if NO_ENTRY in numbers else "")


NO_ENTRY_TEXT = "no entry (the engine's own work, Wine or a restart)"

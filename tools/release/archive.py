"""Deterministic ZIPs and SHA-256 sums: what goes in is names and bytes, nothing else."""

import hashlib
import io
import os
import subprocess
import tempfile
import time
import zipfile

SUMS = "SHA256SUMS"
PART = ".part"
ZIP_EPOCH = 315532800  # 1980-01-01 00:00:00 UTC, the earliest time a ZIP can hold
ZIP_END = 4354819199  # 2107-12-31 23:59:59 UTC, the latest


def source_time(source):
    """The seconds since 1970 every file of the ZIP is dated with, and where they came
    from: SOURCE_DATE_EPOCH when set, else the time of the commit checked out in source.
    Anything else (no git, source not the top of its own checkout) is refused: a date
    taken from elsewhere would make other bytes than the commit's."""
    value = os.environ.get("SOURCE_DATE_EPOCH", "").strip()
    if value:
        if not value.isdigit():
            raise ValueError("SOURCE_DATE_EPOCH must be whole seconds since 1970, not %r" % value)
        return int(value), "SOURCE_DATE_EPOCH"
    source = os.path.realpath(source)
    try:
        top = subprocess.run(git(source) + ["rev-parse", "--show-toplevel"], capture_output=True, text=True, timeout=60)
        done = subprocess.run(git(source) + ["log", "-1", "--format=%ct %H"], capture_output=True, text=True, timeout=60)
    except (OSError, subprocess.TimeoutExpired) as e:
        raise ValueError("no date for the ZIP's files: git did not answer (%s); set SOURCE_DATE_EPOCH to the "
                         "commit's time" % e)
    if top.returncode != 0 or os.path.realpath(top.stdout.strip()) != source or done.returncode != 0:
        raise ValueError("no date for the ZIP's files: %s is not a git checkout of its own (%s); set "
                         "SOURCE_DATE_EPOCH to the commit's time" % (source, (top.stderr or done.stderr).strip()))
    seconds, commit = done.stdout.split()
    return int(seconds), "commit " + commit[:12]


def git(source):
    """git run in source, whoever owns the checkout: we build its code anyway, so reading
    its history adds no trust."""
    source = os.path.realpath(source)
    return ["git", "-c", "safe.directory=" + source, "-c", "log.showSignature=false", "-C", source]


def zip_time(seconds):
    """(year, month, day, hour, minute, second) as a ZIP stores it: in UTC, so that the
    machine's time zone never reaches the bytes, and in whole 2 seconds."""
    stamp = time.gmtime(min(max(seconds, ZIP_EPOCH), ZIP_END))
    return stamp[:5] + (stamp[5] - stamp[5] % 2,)


def sums_text(members):
    """sha256sum's format, one line per member, by name: "<hex>  <name>"."""
    return "".join("%s  %s\n" % (hashlib.sha256(data).hexdigest(), name) for name, data in sorted(members.items()))


def parse_sums(text):
    """{name: hex} from a SHA256SUMS text; a line of another shape raises ValueError."""
    sums = {}
    for number, line in enumerate(text.splitlines(), 1):
        digest, sep, name = line.partition("  ")
        if not sep or len(digest) != 64 or not name or name in sums:
            raise ValueError("SHA256SUMS line %d is not \"<sha-256>  <name>\": %r" % (number, line))
        int(digest, 16)
        sums[name] = digest
    return sums


def zip_bytes(members, seconds):
    """The ZIP of members ({name: bytes}, names with /), in name order, every entry dated
    seconds, a plain file readable by all, deflated at level 9."""
    out = io.BytesIO()
    stamp = zip_time(seconds)
    with zipfile.ZipFile(out, "w") as archive:
        for name in sorted(members):
            info = zipfile.ZipInfo(name, stamp)
            info.create_system = 3  # Unix, so that the mode below is what unzip gives
            info.external_attr = 0o100644 << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(info, members[name], compresslevel=9)
    return out.getvalue()


def read_tree(folder):
    """{name relative to folder with /: bytes} of every file under folder. A link or
    anything but a plain file or folder is refused: it would not be what ships."""
    members = {}
    pending = [""]
    while pending:
        relative = pending.pop()
        for entry in sorted(os.scandir(os.path.join(folder, relative)), key=lambda e: e.name):
            name = relative + entry.name
            if entry.is_symlink():
                raise ValueError("%s is a link; the release holds plain files only" % entry.path)
            if entry.is_dir():
                pending.append(name + "/")
            elif entry.is_file():
                with open(entry.path, "rb") as f:
                    members[name] = f.read()
            else:
                raise ValueError("%s is not a plain file" % entry.path)
    return members


def write_new(path, data):
    """Writes path as a whole: into a new file of its own beside it first (never through
    a file or link already there), then in its place in one step, so that a cut leaves
    the earlier file or the new one, never a part."""
    handle, part = tempfile.mkstemp(prefix=os.path.basename(path) + ".", suffix=PART, dir=os.path.dirname(path))
    with os.fdopen(handle, "wb") as f:
        f.write(data)
        f.flush()
        os.fsync(f.fileno())
    os.chmod(part, 0o644)
    os.replace(part, path)

"""The PC's Wine prefix and its drives: the cached template, the copy each PC gets, the
drive letters, and the files on them.

A prefix is copied from a cached template: the Windows folder's programs and libraries
are hard-linked (nothing writes them), everything else is copied, so each PC is made in
about two seconds. Wine's output is always sent to files, never read through a pipe: the
first program of a session starts Wine's services, which inherit its handles.
"""

import fcntl
import hashlib
import json
import os
import shutil
import stat
import subprocess

from .host import VpcError, wine_command, wine_environment

# Files under drive_c/windows with these endings are only ever read: hard-link them.
SHARED_SUFFIXES = (".dll", ".exe", ".drv", ".sys", ".ocx", ".acm", ".cpl", ".tlb",
                   ".nls", ".ax", ".ds", ".mui", ".com", ".vxd", ".msstyles", ".ttf",
                   ".fon", ".manifest", ".cat")
TEMPLATE_UNLINKED_DRIVES = ("z:",)
WINE32_LIBRARIES = "/usr/lib/i386-linux-gnu/wine"


def cache_dir():
    base = os.environ.get("VPC_CACHE") or os.path.join(
        os.environ.get("XDG_CACHE_HOME") or os.path.expanduser("~/.cache"), "velk-vpc")
    os.makedirs(base, exist_ok=True)
    return base


def wine_env(prefix, arch, display=None):
    env = dict(os.environ)
    env.pop("WINELOADER", None)
    env.update(WINEPREFIX=prefix, WINEDEBUG="-all", **wine_environment(arch))
    env.pop("WINESERVER", None)
    if display:
        env["DISPLAY"] = display
    else:
        env.pop("DISPLAY", None)
    return env


def run_quiet(args, env, timeout=120):
    subprocess.run(args, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=timeout, check=False)


def wine_version():
    # Through the 64-bit loader, which starts on every host.
    out = os.path.join(cache_dir(), "wine-version-%d.txt" % os.getpid())
    with open(out, "w") as f:
        subprocess.run(wine_command("win64") + ["--version"], stdout=f,
                       stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL, check=True)
    with open(out) as f:
        version = f.read().strip()
    os.unlink(out)
    return version


def template_recipe(arch):
    """How the template is made: a change here makes a new template, as a new Wine does."""
    return (
        ("wineboot", "-i"),
        ("reg", "add", r"HKCU\Software\Wine\Drivers", "/v", "Graphics", "/d", "null", "/f"),
    )


def template_key(arch):
    # A 64-bit prefix runs 32-bit programs only when 32-bit Wine was there as it was made.
    wine32 = os.path.isdir(WINE32_LIBRARIES)
    recipe = json.dumps([arch, wine_command(arch), template_recipe(arch), TEMPLATE_UNLINKED_DRIVES,
                         SHARED_SUFFIXES, "own user folders", wine32]).encode()
    version = wine_version().replace(" ", "_").replace("/", "_")
    return version + "-" + hashlib.sha256(recipe).hexdigest()[:12]


def template_path(arch="win32"):
    """The cached template prefix, made once per architecture, Wine version and recipe. A
    lock across processes lets two PCs that start at once wait for one build of it."""
    path = os.path.join(cache_dir(), "template-%s-%s" % (arch, template_key(arch)))
    with open(path + ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if os.path.exists(os.path.join(path, ".complete")):
            return path
        shutil.rmtree(path, ignore_errors=True)
        env = wine_env(path, arch)
        for step in template_recipe(arch):
            run_quiet(wine_command(arch) + list(step), env, timeout=300)
        run_quiet(["wineserver", "-k"], env)
        run_quiet(["wineserver", "-w"], env)
        if not os.path.exists(os.path.join(path, "system.reg")):
            raise VpcError("could not create the %s template prefix at %s" % (arch, path))
        for link in TEMPLATE_UNLINKED_DRIVES:
            try:
                os.unlink(os.path.join(path, "dosdevices", link))
            except FileNotFoundError:
                pass
        # Wine links the user's Desktop, Documents and the like to the Linux home: in a
        # PC they are folders of its own, so that nothing a package or a clean-up does
        # there reaches the machine the PC runs on.
        users = os.path.join(path, "drive_c", "users")
        for root, dirs, _ in os.walk(users):
            for name in dirs:
                folder = os.path.join(root, name)
                if os.path.islink(folder):
                    os.unlink(folder)
                    os.mkdir(folder)
        open(os.path.join(path, ".complete"), "w").close()
    return path


def copy_template(template, prefix):
    windows = os.path.join(template, "drive_c", "windows")
    for root, dirs, files in os.walk(template):
        rel = os.path.relpath(root, template)
        target_root = os.path.join(prefix, rel) if rel != "." else prefix
        os.makedirs(target_root, exist_ok=True)
        for d in list(dirs):
            src = os.path.join(root, d)
            if os.path.islink(src):
                os.symlink(os.readlink(src), os.path.join(target_root, d))
                dirs.remove(d)
        inside_windows = os.path.commonpath([root, windows]) == windows
        for name in files:
            src = os.path.join(root, name)
            dst = os.path.join(target_root, name)
            if name == ".complete" or name.endswith(".lock"):
                continue
            if os.path.islink(src):
                os.symlink(os.readlink(src), dst)
            elif inside_windows and name.lower().endswith(SHARED_SUFFIXES):
                os.link(src, dst)
            else:
                shutil.copy2(src, dst)


def file_attributes(path):
    """The attribute bits a Windows program would get for a file of a prefix."""
    info = os.lstat(path)
    attributes = 0x10 if stat.S_ISDIR(info.st_mode) else 0x20
    if not stat.S_ISDIR(info.st_mode) and not info.st_mode & 0o222:
        attributes |= 0x01
    try:
        attributes |= int(os.getxattr(path, "user.DOSATTRIB").split(b"\0")[0], 16) & 0x27
    except (OSError, ValueError):
        pass
    return attributes


def resolve_case(base, rest):
    """Windows paths ignore case: the existing entry of each component where there is one."""
    path = base
    for part in [p for p in rest.split("/") if p]:
        candidate = os.path.join(path, part)
        if not os.path.exists(candidate) and os.path.isdir(path):
            for entry in os.listdir(path):
                if entry.lower() == part.lower():
                    candidate = os.path.join(path, entry)
                    break
        path = candidate
    return path


class DrivesAndFiles:
    """The drive letters of a PC and its files, read and written from the Linux side."""

    def _make_drives(self, fixed_drives, cdrom):
        devices = os.path.join(self.prefix, "dosdevices")
        floppy = os.path.join(self.root, "floppy_a")
        os.makedirs(floppy)
        os.symlink(floppy, os.path.join(devices, "a:"))
        for letter in fixed_drives:
            letter = letter.lower().rstrip(":")
            folder = os.path.join(self.root, "drive_" + letter)
            os.makedirs(folder)
            os.symlink(folder, os.path.join(devices, letter + ":"))
        self.cdrom = None
        if cdrom:
            letter = cdrom.lower().rstrip(":")
            folder = os.path.join(self.root, "cdrom_" + letter)
            os.makedirs(folder)
            os.symlink(folder, os.path.join(devices, letter + ":"))
            os.symlink("/dev/null", os.path.join(devices, letter + "::"))
            self.cdrom = letter

    def drives(self):
        """{letter: Linux folder} of every drive of the PC but its CD-ROM device links."""
        devices = os.path.join(self.prefix, "dosdevices")
        found = {}
        for name in sorted(os.listdir(devices)):
            if len(name) == 2 and name.endswith(":"):
                found[name[0].upper()] = os.path.realpath(os.path.join(devices, name))
        return found

    def host_path(self, win_path):
        """The Linux path of a Windows path such as C:\\Velk\\RUN.NUV, never outside
        the drive's own folder."""
        if len(win_path) < 2 or win_path[1] != ":":
            raise VpcError("not an absolute Windows path: " + win_path)
        link = os.path.join(self.prefix, "dosdevices", win_path[0].lower() + ":")
        base = os.path.realpath(link)
        rest = win_path[2:].replace("\\", "/").lstrip("/")
        # Every file written or removed through it stays on the PC's own drive.
        if ".." in rest.split("/"):
            raise VpcError("a path that leaves its drive: " + win_path)
        path = resolve_case(base, rest)
        folder = os.path.realpath(os.path.dirname(path)) if rest else base
        if os.path.commonpath([folder, base]) != base:
            raise VpcError("a path that leads off its drive through a link: " + win_path)
        return path

    def put_file(self, win_path, data=b"", source=None):
        path = self.host_path(win_path)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        # The file may be a hard link into the template (the Windows folder's programs
        # and libraries): writing through it would change every later PC.
        if os.path.lexists(path):
            os.unlink(path)
        if source is not None:
            shutil.copyfile(source, path)
        else:
            with open(path, "wb") as f:
                f.write(data.encode("latin-1") if isinstance(data, str) else data)
        return path

    def copy_out(self, win_paths, folder):
        """Copies those of the PC's files that are there into a folder of this machine
        (made when missing); returns the folder."""
        os.makedirs(folder, exist_ok=True)
        for win_path in win_paths:
            if self.exists(win_path):
                source = self.host_path(win_path)
                shutil.copyfile(source, os.path.join(folder, os.path.basename(source)))
        return folder

    def read_file(self, win_path):
        with open(self.host_path(win_path), "rb") as f:
            return f.read()

    def exists(self, win_path):
        return os.path.lexists(self.host_path(win_path))

    def make_dir(self, win_path):
        path = self.host_path(win_path)
        os.makedirs(path, exist_ok=True)
        return path

    def list_files(self, win_folder):
        """{windows path: attributes} for everything under a folder, as Wine reports them:
        the DOS attributes Wine keeps beside each file, read-only from the file's mode."""
        base = self.host_path(win_folder)
        prefix = win_folder.rstrip("\\")
        files = {}
        for root, dirs, names in os.walk(base):
            for name in dirs + names:
                path = os.path.join(root, name)
                rel = os.path.relpath(path, base).replace("/", "\\")
                files[prefix + "\\" + rel] = file_attributes(path)
        return files

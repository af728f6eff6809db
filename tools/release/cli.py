"""`scripts/release`: the ZIPs of one build or of both, with their sums; and
`scripts/check-reproducible`: the whole release built twice, compared byte for byte."""

import argparse
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile

from release import archive

ARCHS = ("win32", "win64")
REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def package(build, source, cmake, name):
    """Writes name.zip (the files for the factory, stripped, with their SHA256SUMS),
    name-symbols.zip (every binary's debug file, in the binary's folder) and SHA256SUMS of
    the two, in the build folder."""
    if not os.path.isfile(os.path.join(build, "CMakeCache.txt")):
        raise SystemExit("%s is not a build folder (no CMakeCache.txt)" % build)
    stage = os.path.join(build, "release-staging")
    # Our own copy of what the last package step installed; a link is never followed.
    if os.path.islink(stage) or (os.path.exists(stage) and not os.path.isdir(stage)):
        raise SystemExit("%s is not the folder this step stages in; move it away" % stage)
    if os.path.isdir(stage):
        shutil.rmtree(stage)
    zips = {}
    for component, suffix in (("Unspecified", ""), ("symbols", "-symbols")):
        folder = os.path.join(stage, component)
        done = subprocess.run([cmake, "--install", build, "--prefix", folder, "--component", component],
                              capture_output=True, text=True)
        if done.returncode != 0:
            raise SystemExit("cmake --install of %s failed:\n%s%s" % (component, done.stdout, done.stderr))
        try:
            members = archive.read_tree(folder) if os.path.isdir(folder) else {}
        except ValueError as e:
            raise SystemExit(str(e))
        if not members or archive.SUMS in members:
            raise SystemExit("%s: nothing installed, or a file named %s" % (folder, archive.SUMS))
        members[archive.SUMS] = archive.sums_text(members).encode()
        zips[name + suffix + ".zip"] = members
    try:
        seconds, origin = archive.source_time(source)
    except ValueError as e:
        raise SystemExit(str(e))
    written = {}
    for zip_name, members in zips.items():
        written[zip_name] = archive.zip_bytes(members, seconds)
        archive.write_new(os.path.join(build, zip_name), written[zip_name])
    archive.write_new(os.path.join(build, archive.SUMS), archive.sums_text(written).encode())
    for zip_name in sorted(written):
        print("%s  %s (files dated from %s)" % (hashlib.sha256(written[zip_name]).hexdigest(), zip_name, origin))


def version():
    import re
    with open(os.path.join(REPO, "CMakeLists.txt")) as f:
        return re.search(r"project\(Velk VERSION ([0-9.]+)", f.read()).group(1)


# Compiler and linker flags CMake takes from the environment at a first configure: a
# release is built with the project's own flags only, whatever the caller's shell says.
FLAG_VARIABLES = ("CFLAGS", "CXXFLAGS", "CPPFLAGS", "LDFLAGS", "RCFLAGS")


def build_package(arch, build):
    """Configures a fresh build folder of the preset and builds its package target; the
    step's own lines (each ZIP's SHA-256, where the dates came from) are passed on."""
    env = {k: v for k, v in os.environ.items() if k not in FLAG_VARIABLES}
    for command in (["cmake", "--preset", arch, "-B", build], ["cmake", "--build", build, "--target", "package"]):
        done = subprocess.run(command, cwd=REPO, env=env, capture_output=True, text=True)
        if done.returncode != 0:
            raise SystemExit("%s failed:\n%s" % (" ".join(command), (done.stdout + done.stderr)[-6000:]))
    print("".join(line + "\n" for line in done.stdout.splitlines() if ".zip (files dated from " in line), end="")


def uncommitted():
    """The tracked files changed since the last commit, as git lists them ("" for none);
    None when git cannot tell."""
    done = subprocess.run(archive.git(REPO) + ["status", "--porcelain", "--untracked-files=no"],
                          capture_output=True, text=True)
    return done.stdout.strip() if done.returncode == 0 else None


def release(out, allow_uncommitted=False, build=build_package):
    """Both architectures' ZIPs and symbols ZIPs in out, with one SHA256SUMS of all four.
    Each architecture is built in a fresh folder of its own, so nothing of an earlier
    build (objects of another compiler, a changed cache) reaches the release. out holds
    nothing else: a file this step does not write is never overwritten, and the sums list
    every ZIP beside them."""
    names = {arch: ["Velk-NUV-%s-%s%s.zip" % (version(), arch, suffix) for suffix in ("", "-symbols")]
             for arch in ARCHS}
    os.makedirs(out, exist_ok=True)
    ours = {archive.SUMS}.union(*names.values())
    # A write cut short leaves "<name>.<random>.part" (archive.write_new): ours too.
    strangers = sorted(n for n in os.listdir(out) if n not in ours
                       and not (n.endswith(archive.PART) and any(n.startswith(o + ".") for o in ours)))
    if strangers:
        raise SystemExit("%s holds %s, which this release does not write; give an empty folder with --out"
                         % (out, ", ".join(strangers)))
    changes = uncommitted()
    if changes is None and not allow_uncommitted:
        raise SystemExit("git cannot tell whether %s is its last commit as it stands; give --uncommitted to "
                         "build it as it is" % REPO)
    if changes and not allow_uncommitted:
        raise SystemExit("uncommitted changes (commit them, or give --uncommitted to build them as they stand, "
                         "dated as the last commit):\n" + changes)
    os.makedirs(os.path.join(REPO, "build"), exist_ok=True)
    builds = tempfile.mkdtemp(prefix="release-", dir=os.path.join(REPO, "build"))
    written = {}
    for arch in ARCHS:
        print("== building the %s release" % arch, flush=True)
        folder = os.path.join(builds, arch)
        try:
            build(arch, folder)
        except SystemExit as e:
            raise SystemExit("%s\nthe build folders are kept in %s" % (e, builds))
        for name in names[arch]:
            with open(os.path.join(folder, name), "rb") as f:
                written[name] = f.read()
    for name, data in written.items():
        archive.write_new(os.path.join(out, name), data)
    sums = archive.sums_text(written)
    archive.write_new(os.path.join(out, archive.SUMS), sums.encode())
    # The build folders this run made; a failed build above keeps them to look at.
    shutil.rmtree(builds)
    print("%s/%s:\n%s" % (out, archive.SUMS, sums), end="")


def differences(one, two):
    """What differs between two files: the members of two ZIPs, or the first byte."""
    with open(one, "rb") as f:
        a = f.read()
    with open(two, "rb") as f:
        b = f.read()
    if a == b:
        return []
    if zipfile.is_zipfile(one) and zipfile.is_zipfile(two):
        with zipfile.ZipFile(one) as za, zipfile.ZipFile(two) as zb:
            in_a, in_b = set(za.namelist()), set(zb.namelist())
            found = []
            for name in sorted(in_a | in_b):
                ma = za.read(name) if name in in_a else None
                mb = zb.read(name) if name in in_b else None
                if ma != mb:
                    found.append(name + ("" if ma and mb and len(ma) != len(mb) else
                                         " (first difference at byte %d)" % first_difference(ma or b"", mb or b"")))
            return found or ["the ZIP's own bytes (dates, order or compression)"]
    return ["first difference at byte %d" % first_difference(a, b)]


def first_difference(a, b):
    return next((i for i, (x, y) in enumerate(zip(a, b)) if x != y), min(len(a), len(b)))


def release_in(source, out, zone, umask):
    """Runs the clone's own scripts/release, as a person would, into out."""
    env = dict(os.environ, TZ=zone)
    env.pop("SOURCE_DATE_EPOCH", None)  # the commit's time, never the caller's
    done = subprocess.run([sys.executable, os.path.join(source, "scripts", "release"), "--out", out], env=env,
                          preexec_fn=lambda: os.umask(umask))
    return done.returncode == 0


def check(keep, build=release_in):
    """Clones this commit into two folders, builds the release in each, the second after
    the first, in another time zone and with another umask, and compares every file."""
    commit = subprocess.run(["git", "-C", REPO, "rev-parse", "HEAD"], capture_output=True, text=True,
                            check=True).stdout.strip()
    if uncommitted():
        print("note: uncommitted changes are not in the check; it builds commit %s" % commit[:12])
    top = tempfile.mkdtemp(prefix="velk-reproducible-")
    builds = [(os.path.join(top, "a", "velk"), "UTC", 0o022),
              (os.path.join(top, "second-build", "another-folder", "Velk-src"), "Pacific/Kiritimati", 0o077)]
    outs = []
    for number, (source, zone, umask) in enumerate(builds, 1):
        print("== build %d of 2 in %s (TZ=%s, umask %03o), %s" % (number, source, zone, umask,
                                                                  time.strftime("%H:%M:%S")), flush=True)
        # No line-end conversion, whatever the user's git settings: the bytes are the commit's.
        subprocess.run(["git", "-c", "core.autocrlf=false", "clone", "-q", "--no-checkout", REPO, source],
                       check=True)
        subprocess.run(["git", "-C", source, "config", "core.autocrlf", "false"], check=True)
        subprocess.run(["git", "-C", source, "checkout", "-q", "--detach", commit], check=True)
        out = source + "-release"
        if not build(source, out, zone, umask):
            raise SystemExit("build %d failed; its folder is kept: %s" % (number, top))
        outs.append(out)
    names = sorted(set(os.listdir(outs[0])) | set(os.listdir(outs[1])))
    same = True
    # What the first build's SHA256SUMS lists must all be there: an empty or partial
    # release compared with another is no proof.
    try:
        with open(os.path.join(outs[0], archive.SUMS)) as f:
            listed = set(archive.parse_sums(f.read()))
    except (OSError, ValueError) as e:
        listed = set()
        print("the first build's %s cannot be read: %s" % (archive.SUMS, e))
    if not listed or listed | {archive.SUMS} != set(names):
        print("the release is not whole: %s lists %s; the folders hold %s"
              % (archive.SUMS, ", ".join(sorted(listed)) or "nothing", ", ".join(names) or "nothing"))
        same = False
    for name in names:
        paths = [os.path.join(out, name) for out in outs]
        if not all(os.path.isfile(p) for p in paths):
            print("only in one build: %s" % name)
            same = False
            continue
        found = differences(*paths)
        with open(paths[0], "rb") as f:
            digest = hashlib.sha256(f.read()).hexdigest()
        print("%s  %s  %s" % (digest, name, "identical" if not found else "DIFFERS: " + "; ".join(found)))
        same = same and not found
    if same and not keep:
        shutil.rmtree(top)
    else:
        print("the two builds are kept in %s" % top)
    print("commit %s: %s" % (commit[:12], "the two builds are byte for byte the same" if same
                             else "the two builds differ"))
    return 0 if same else 1


def main(argv=None):
    parser = argparse.ArgumentParser(prog="scripts/release", description=__doc__)
    sub = parser.add_subparsers(dest="command")
    one = sub.add_parser("package", help="the ZIPs of one build folder (the build's package target)")
    one.add_argument("--build", required=True)
    one.add_argument("--source", required=True)
    one.add_argument("--cmake", default="cmake")
    one.add_argument("--name", required=True)
    twice = sub.add_parser("check", help="build the release twice in two folders and compare")
    twice.add_argument("--keep", action="store_true", help="keep both builds even when they are the same")
    parser.add_argument("--out", default=os.path.join(REPO, "build", "release"),
                        help="where both architectures' ZIPs and SHA256SUMS go (default build/release)")
    parser.add_argument("--uncommitted", action="store_true",
                        help="build uncommitted changes as they stand (the files are dated as the last commit)")
    args = parser.parse_args(argv)
    if args.command == "package":
        package(args.build, args.source, args.cmake, args.name)
    elif args.command == "check":
        return check(args.keep)
    else:
        release(os.path.abspath(args.out), args.uncommitted)
    return 0

"""Changes to a folder's entries as Linux reports them (inotify), so that a file the PC
replaces many times a second is read after every replacement, not at the next poll.

Standard library only (ctypes). Where inotify is not to be had, wait() just sleeps and
the caller polls.
"""

import ctypes
import os
import select
import struct
import time

IN_CLOSE_WRITE = 0x00000008
IN_MOVED_TO = 0x00000080
IN_CREATE = 0x00000100
IN_NONBLOCK = 0o4000
IN_CLOEXEC = 0o2000000
EVENT = struct.Struct("iIII")


class FolderEvents:
    def __init__(self, folder):
        self.fd = None
        try:
            libc = ctypes.CDLL(None, use_errno=True)
            fd = libc.inotify_init1(IN_NONBLOCK | IN_CLOEXEC)
            if fd < 0:
                return
            if libc.inotify_add_watch(fd, os.fsencode(folder), IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE) < 0:
                os.close(fd)
                return
            self.fd = fd
        except (OSError, AttributeError):
            self.fd = None

    def wait(self, timeout):
        """The names of the entries written, created or moved in since the last call,
        once there are any or the time is up ([] then)."""
        if self.fd is None:
            time.sleep(timeout)
            return []
        ready, _, _ = select.select([self.fd], [], [], timeout)
        names = []
        while ready:
            try:
                data = os.read(self.fd, 65536)
            except BlockingIOError:
                break
            at = 0
            while at + EVENT.size <= len(data):
                _, _, _, length = EVENT.unpack_from(data, at)
                name = data[at + EVENT.size:at + EVENT.size + length].split(b"\0", 1)[0]
                names.append(os.fsdecode(name))
                at += EVENT.size + length
        return names

    def close(self):
        if self.fd is not None:
            os.close(self.fd)
            self.fd = None

"""The PC's screen: an Xvfb display of its own, screenshots, and the pictures' pixels.

Standard library only: the screen dump (XWD) is turned into a PNG here.
"""

import os
import struct
import subprocess
import zlib

from .host import VpcError

SCREEN_SIZE = (1024, 768)


class Screen:
    def _start_xvfb(self):
        read_fd, write_fd = os.pipe()
        self._xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "%dx%dx24" % SCREEN_SIZE, "-nolisten", "tcp"],
            pass_fds=(write_fd,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)
        os.close(write_fd)
        number = b""
        with os.fdopen(read_fd, "rb") as f:
            while not number.endswith(b"\n"):
                chunk = f.read(1)
                if not chunk:
                    break
                number += chunk
        if not number.strip():
            raise VpcError("Xvfb did not start")
        self.display = ":" + number.decode().strip()

    def _stop_xvfb(self):
        if self._xvfb is None:
            return
        self._xvfb.terminate()
        try:
            self._xvfb.wait(10)
        except subprocess.TimeoutExpired:
            self._xvfb.kill()
            self._xvfb.wait()
        self._xvfb = None

    def screenshot(self, png_path):
        if not self.display:
            raise VpcError("screenshots need a PC created with display=True")
        xwd_path = os.path.join(self.logs, "screen.xwd")
        with open(xwd_path, "wb") as out:
            subprocess.run(["xwd", "-root", "-silent", "-display", self.display], stdout=out,
                           stdin=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True, timeout=60)
        with open(xwd_path, "rb") as f:
            write_png(png_path, *read_xwd(f.read()))
        return png_path


def read_xwd(data):
    """(width, height, rgb rows) of a 24- or 32-bit TrueColor XWD screen dump."""
    fields = struct.unpack(">25I", data[:100])
    header_size, version, pixmap_format, depth, width, height = fields[:6]
    byte_order, bits_per_pixel, bytes_per_line = fields[7], fields[11], fields[12]
    colormap_entries = fields[19]
    if version != 7 or pixmap_format != 2 or bits_per_pixel not in (24, 32):
        raise VpcError("unsupported screen dump (version %d, format %d, %d bpp)"
                       % (version, pixmap_format, bits_per_pixel))
    red_mask, green_mask, blue_mask = fields[14], fields[15], fields[16]
    offset = header_size + colormap_entries * 12
    step = bits_per_pixel // 8
    rows = []
    if (byte_order, red_mask, green_mask, blue_mask) == (0, 0xFF0000, 0xFF00, 0xFF):
        # Xvfb's own layout, blue green red (and a spare byte at 32 bits): taken apart by
        # slicing, which keeps a screenshot well under a second (the engine's windows come
        # and go fast).
        for y in range(height):
            line = data[offset + y * bytes_per_line: offset + y * bytes_per_line + width * step]
            row = bytearray(width * 3)
            row[0::3], row[1::3], row[2::3] = line[2::step], line[1::step], line[0::step]
            rows.append(bytes(row))
        return width, height, rows
    shifts = [(mask, (mask & -mask).bit_length() - 1) for mask in (red_mask, green_mask, blue_mask)]
    for y in range(height):
        line = data[offset + y * bytes_per_line: offset + y * bytes_per_line + width * step]
        row = bytearray(width * 3)
        for x in range(width):
            chunk = line[x * step:(x + 1) * step]
            pixel = int.from_bytes(chunk, "big" if byte_order else "little")
            for i, (mask, shift) in enumerate(shifts):
                row[x * 3 + i] = (pixel & mask) >> shift
        rows.append(bytes(row))
    return width, height, rows


def read_png(path):
    """(width, height, rgb rows) of an 8-bit RGB or RGBA PNG without interlacing: those
    write_png makes and a browser's screenshots."""
    with open(path, "rb") as f:
        data = f.read()
    if not data.startswith(b"\x89PNG\r\n\x1a\n"):
        raise VpcError("not a PNG file: " + path)
    position, idat = 8, b""
    width = height = 0
    depth, colour, interlace = 8, 2, 0
    while position < len(data):
        length, kind = struct.unpack(">I4s", data[position:position + 8])
        body = data[position + 8:position + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body[:13])
        elif kind == b"IDAT":
            idat += body
        position += 12 + length
    if depth != 8 or colour not in (2, 6) or interlace:
        raise VpcError("unsupported PNG (depth %d, colour type %d, interlace %d): %s"
                       % (depth, colour, interlace, path))
    step = 3 if colour == 2 else 4
    raw = zlib.decompress(idat)
    stride = width * step
    rows, previous = [], bytes(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        row = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        unfilter(kind, row, previous, step)
        previous = bytes(row)
        if step == 4:
            del row[3::4]
        rows.append(bytes(row))
    return width, height, rows


def unfilter(kind, row, previous, step):
    """Undoes one of PNG's five row filters in place."""
    if kind == 1:
        for i in range(step, len(row)):
            row[i] = (row[i] + row[i - step]) & 0xFF
    elif kind == 2:
        for i in range(len(row)):
            row[i] = (row[i] + previous[i]) & 0xFF
    elif kind == 3:
        for i in range(len(row)):
            left = row[i - step] if i >= step else 0
            row[i] = (row[i] + ((left + previous[i]) >> 1)) & 0xFF
    elif kind == 4:
        for i in range(len(row)):
            a = row[i - step] if i >= step else 0
            b = previous[i]
            c = previous[i - step] if i >= step else 0
            p = a + b - c
            pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
            row[i] = (row[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 0xFF


def write_png(path, width, height, rows):
    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body +
                struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))
    raw = b"".join(b"\x00" + row for row in rows)
    png = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
           + chunk(b"IDAT", zlib.compress(raw, 6)) + chunk(b"IEND", b""))
    with open(path, "wb") as f:
        f.write(png)


def shows_text(rows, rect, minimum=20):
    """Whether a rectangle of a picture holds drawn text: more than one colour, and at
    least `minimum` pixels clearly darker than its most common colour (the background)."""
    counts = {}
    for y in range(max(rect["top"], 0), min(rect["bottom"], len(rows))):
        row = rows[y]
        for x in range(max(rect["left"], 0), min(rect["right"], len(row) // 3)):
            pixel = bytes(row[x * 3:x * 3 + 3])
            counts[pixel] = counts.get(pixel, 0) + 1
    if len(counts) < 2:
        return False

    def luma(pixel):
        return (299 * pixel[0] + 587 * pixel[1] + 114 * pixel[2]) // 1000
    background = luma(max(counts, key=counts.get))
    return sum(n for pixel, n in counts.items() if luma(pixel) + 64 < background) >= minimum

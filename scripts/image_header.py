#!/usr/bin/env python3
"""Compares two output images (JPEG, GIF, PNG or TIFF) by format and pixel size.

Prints one line: the format and size, and, when the vips command is there, how
far the pixels differ (largest and mean difference per channel, 0-255). Exits
0 when format and size match, 1 when they do not, 2 when a file is unreadable.
Standard library only, apart from the optional vips.
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from compare_pages import read_ppm  # noqa: E402


def jpeg_size(data):
    pos = 2
    while pos + 9 < len(data):
        if data[pos] != 0xFF:
            raise ValueError("broken JPEG marker")
        marker, length = data[pos + 1], struct.unpack(">H", data[pos + 2:pos + 4])[0]
        if marker in (0xC0, 0xC1, 0xC2):
            height, width = struct.unpack(">HH", data[pos + 5:pos + 9])
            return width, height
        pos += 2 + length
    raise ValueError("JPEG without a frame header")


def tiff_size(data):
    order = "<" if data[:2] == b"II" else ">"
    (ifd,) = struct.unpack(order + "I", data[4:8])
    (count,) = struct.unpack(order + "H", data[ifd:ifd + 2])
    found = {}
    for i in range(count):
        tag, kind, _, value = struct.unpack(order + "HHI4s", data[ifd + 2 + 12 * i:ifd + 14 + 12 * i])
        number = struct.unpack(order + ("H" if kind == 3 else "I"), value[:2 if kind == 3 else 4])[0]
        found[tag] = number
    return found[256], found[257]


def describe(path):
    with open(path, "rb") as f:
        data = f.read()
    if data[:3] == b"\xff\xd8\xff":
        return ("JPEG",) + jpeg_size(data)
    if data[:8] == b"\x89PNG\r\n\x1a\n":
        return ("PNG",) + struct.unpack(">II", data[16:24])
    if data[:6] in (b"GIF87a", b"GIF89a"):
        width, height = struct.unpack("<HH", data[6:10])
        if len(data) < 30 or data[-1:] != b";":
            raise ValueError("GIF without image data")
        return ("GIF", width, height)
    if data[:4] in (b"II*\x00", b"MM\x00*"):
        return ("TIFF",) + tiff_size(data)
    raise ValueError("not a JPEG, GIF, PNG or TIFF file")


def pixel_difference(first, second):
    vips = shutil.which("vips")
    if not vips:
        return ""
    with tempfile.TemporaryDirectory() as folder:
        pixels = []
        for i, path in enumerate((first, second)):
            ppm = os.path.join(folder, f"{i}.ppm")
            # Flattened on white and made 8-bit sRGB, as the service's pages are.
            subprocess.run([vips, "colourspace", path, ppm + ".v", "srgb"], check=True)
            subprocess.run([vips, "flatten", ppm + ".v", ppm, "--background", "255"], check=True,
                           stderr=subprocess.DEVNULL)
            with open(ppm, "rb") as f:
                pixels.append(read_ppm(f.read())[2])
    a, b = pixels
    if len(a) != len(b) or not a:
        return ""
    diffs = [abs(x - y) for x, y in zip(a, b)]
    return f", pixels differ by at most {max(diffs)} (mean {sum(diffs) / len(diffs):.2f})"


def main():
    try:
        first, second = describe(sys.argv[1]), describe(sys.argv[2])
    except (OSError, ValueError, KeyError, struct.error) as error:
        print(f"unreadable: {error}")
        return 2
    if first != second:
        print(f"{first[0]} {first[1]}x{first[2]} vs {second[0]} {second[1]}x{second[2]}")
        return 1
    try:
        detail = pixel_difference(sys.argv[1], sys.argv[2])
    except (OSError, subprocess.CalledProcessError, ValueError):
        detail = ", pixels not compared"
    print(f"{first[0]} {first[1]}x{first[2]}{detail}")
    return 0


if __name__ == "__main__":
    sys.exit(main())

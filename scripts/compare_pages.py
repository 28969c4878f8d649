#!/usr/bin/env python3
"""Compares two page images, PNG (8-bit RGB, as png16m writes) or binary PPM.

Prints one line: the two pixel sizes and, when they match, how many pixels
differ and by how much at most (per channel). Exits 0 when the sizes match,
1 when they do not, 2 when a file cannot be read.
Used by check_windows_interpreters.sh; standard library only.
"""
import struct
import sys
import zlib


def read_png(data):
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("not a PNG")
    pos, idat, width, height = 8, [], 0, 0
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        pos += 12 + length
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            if depth != 8 or colour != 2 or interlace != 0:
                raise ValueError("only 8-bit RGB non-interlaced PNGs are read")
        elif kind == b"IDAT":
            idat.append(body)
        elif kind == b"IEND":
            break
    raw = zlib.decompress(b"".join(idat))
    stride = width * 3
    rows, prev = [], bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        if kind == 1:
            for i in range(3, stride):
                line[i] = (line[i] + line[i - 3]) & 0xFF
        elif kind == 2:
            line = bytearray((a + b) & 0xFF for a, b in zip(line, prev))
        elif kind == 3:
            for i in range(stride):
                left = line[i - 3] if i >= 3 else 0
                line[i] = (line[i] + ((left + prev[i]) >> 1)) & 0xFF
        elif kind == 4:
            for i in range(stride):
                a = line[i - 3] if i >= 3 else 0
                b = prev[i]
                c = prev[i - 3] if i >= 3 else 0
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                pred = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
                line[i] = (line[i] + pred) & 0xFF
        rows.append(bytes(line))
        prev = line
    return width, height, b"".join(rows)


def read_ppm(data):
    fields, pos = [], 2
    while len(fields) < 3:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            pos = data.index(b"\n", pos)
            continue
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(int(data[pos:end]))
        pos = end
    width, height, _ = fields
    return width, height, data[pos + 1:pos + 1 + width * height * 3]


def read(path):
    with open(path, "rb") as f:
        data = f.read()
    return read_ppm(data) if data[:2] == b"P6" else read_png(data)


def main():
    first, second = sys.argv[1], sys.argv[2]
    try:
        with open(first, "rb") as f, open(second, "rb") as g:
            identical = f.read() == g.read()
        w1, h1, p1 = read(first)
        w2, h2, p2 = read(second)
    except (OSError, ValueError, IndexError, zlib.error) as error:
        print(f"unreadable: {error}")
        return 2
    if (w1, h1) != (w2, h2):
        print(f"{w1}x{h1} vs {w2}x{h2}: sizes differ")
        return 1
    if identical or p1 == p2:
        print(f"{w1}x{h1}: identical pixels" + (" (identical files)" if identical else ""))
        return 0
    differing, worst = 0, 0
    for i in range(0, len(p1), 3):
        if p1[i:i + 3] != p2[i:i + 3]:
            differing += 1
            worst = max(worst, *(abs(p1[i + k] - p2[i + k]) for k in range(3)))
    print(f"{w1}x{h1}: {differing} of {w1 * h1} pixels differ "
          f"({100.0 * differing / (w1 * h1):.3f} %), by at most {worst} per channel")
    return 0


if __name__ == "__main__":
    sys.exit(main())

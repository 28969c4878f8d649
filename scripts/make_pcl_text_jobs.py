#!/usr/bin/env python3
"""Writes a PCL 5 and a PCL XL job whose text is set in the printer's resident
fonts, so that rendering them needs the PCL font kit (the jobs gs makes carry
their text as bitmaps). Used by check_windows_interpreters.sh.
  make_pcl_text_jobs.py FOLDER   -> FOLDER/text_a4.pcl, FOLDER/text_letter.pxl
"""
import os
import struct
import sys

FONTS = (("Courier", 4099), ("CG Times", 4101), ("Arial", 16602))

ESC = b"\x1b"
UEL = b"\x1b%-12345X"


def pcl5():
    out = ESC + b"E" + ESC + b"&l26A" + ESC + b"&l0O" + ESC + b"(0N"
    y = 300
    for name, typeface in FONTS:
        # Fixed Courier by pitch, the proportional faces by height.
        spacing = b"0p10h" if name == "Courier" else b"1p"
        out += ESC + b"(s" + spacing + b"14v0s0b" + str(typeface).encode() + b"T"
        out += ESC + b"*p300x" + str(y).encode() + b"Y" + b"PCL 5 text in " + name.encode()
        y += 150
    return out + b"\x0c" + ESC + b"E"


def pclxl():
    def ub(v): return b"\xc0" + bytes([v])
    def u16(v): return b"\xc1" + struct.pack("<H", v)
    def real(v): return b"\xc5" + struct.pack("<f", v)
    def u16xy(x, y): return b"\xd1" + struct.pack("<HH", x, y)
    def s16xy(x, y): return b"\xd3" + struct.pack("<hh", x, y)
    def array(data): return b"\xc8\xc1" + struct.pack("<H", len(data)) + data
    def attr(a): return b"\xf8" + bytes([a])
    out = UEL + b"@PJL ENTER LANGUAGE=PCLXL\r\n) HP-PCL XL;2;0;Comment text check\r\n"
    # BeginSession (inch, 600 units, no error page), OpenDataSource, BeginPage (Letter).
    out += ub(0) + attr(0x86) + u16xy(600, 600) + attr(0x89) + ub(0) + attr(0x8f) + b"\x41"
    out += ub(0) + attr(0x88) + ub(1) + attr(0x82) + b"\x48"
    out += ub(0) + attr(0x28) + ub(0) + attr(0x25) + b"\x43"
    out += ub(1) + attr(0x03) + b"\x6a" + ub(0) + attr(0x09) + b"\x63"  # gray, black brush
    y = 600
    for name, _ in FONTS:
        # SetFont (name, size, Roman-8), SetCursor, Text with fixed advances.
        out += array(name.encode().ljust(16)) + attr(0xa8) + real(60.0) + attr(0xa6) + u16(277) + attr(0xaa)
        out += b"\x6f" + s16xy(600, y) + attr(0x4c) + b"\x6b"
        text = b"PCL XL text in " + name.encode()
        out += array(text) + attr(0xab) + array(bytes([36] * len(text))) + attr(0xaf) + b"\xa8"
        y += 300
    # EndPage (one copy), CloseDataSource, EndSession.
    return out + u16(1) + attr(0x31) + b"\x44\x49\x42" + UEL


def main():
    folder = sys.argv[1]
    with open(os.path.join(folder, "text_a4.pcl"), "wb") as f:
        f.write(pcl5())
    with open(os.path.join(folder, "text_letter.pxl"), "wb") as f:
        f.write(pclxl())


if __name__ == "__main__":
    main()

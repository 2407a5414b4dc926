#!/usr/bin/python3
"""Changes one pixel of every bitmap in the folder given, so that inserting them rebuilds every
record: the first byte of the pixel data has bit 3 flipped (a channel of a 24-bit pixel keeps
its low bits clear, so the colour stays exact)."""
import glob
import sys

for path in glob.glob(f"{sys.argv[1]}/*.BMP"):
    picture = bytearray(open(path, "rb").read())
    at = int.from_bytes(picture[10:14], "little")
    if at < len(picture):
        picture[at] ^= 0x08
        open(path, "wb").write(picture)

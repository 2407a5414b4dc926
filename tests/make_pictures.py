#!/usr/bin/python3
"""make_pictures.py FOLDER: writes PNG files of kinds our writers never make into FOLDER, and
prints how an independent image library reads each: "NAME WIDTH HEIGHT P|RGB PIXELS PALETTE"
in hexadecimal ("-" for no palette). Interlaced ones are framed here, using every row filter."""
import struct
import sys
import zlib
from pathlib import Path

from PIL import Image

folder = Path(sys.argv[1])
ADAM7 = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)]


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def paeth(a, b, c):
    p = a + b - c
    return a if abs(p - a) <= abs(p - b) and abs(p - a) <= abs(p - c) else b if abs(p - b) <= abs(p - c) else c


def interlaced(name, image, depth, step):
    """image: PIL picture in mode P or RGB; `step` bytes a pixel (1 for packed depths)."""
    width, height = image.size
    rows, count = b"", 0
    for x0, y0, dx, dy in ADAM7:
        above = None
        for y in range(y0, height, dy):
            values = [image.getpixel((x, y)) for x in range(x0, width, dx)]
            if not values:
                break
            raw = bytes(c for v in values for c in (v if isinstance(v, tuple) else [v]))
            if depth < 8:  # pack from the high bits down
                bits = "".join(format(v, f"0{depth}b") for v in values)
                raw = bytes(int(bits[i:i + 8].ljust(8, "0"), 2) for i in range(0, len(bits), 8))
            kind, out = count % 5, bytearray()
            for i, byte in enumerate(raw):
                a = raw[i - step] if i >= step else 0
                b = above[i] if above else 0
                c = above[i - step] if above and i >= step else 0
                out.append((byte - [0, a, b, (a + b) // 2, paeth(a, b, c)][kind]) & 255)
            rows, above, count = rows + bytes([kind]) + out, raw, count + 1
    colour_type = 3 if image.mode == "P" else 2
    head = struct.pack(">IIBBBBB", width, height, depth, colour_type, 0, 0, 1)
    plte = chunk(b"PLTE", bytes(image.getpalette())) if colour_type == 3 else b""
    (folder / name).write_bytes(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", head) + plte +
                                chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def pattern(mode, size, colours):
    image = Image.new(mode, size)
    for y in range(size[1]):
        for x in range(size[0]):
            v = (x * 7 + y * 13 + x * y) % colours
            image.putpixel((x, y), v if mode == "P" else (v * 37 % 256, v * 11 % 256, 255 - v, 255))
    if mode == "P":
        image.putpalette([(i * 29 + k * 71) % 256 for i in range(colours) for k in range(3)])
    return image


for depth, size in ((1, (9, 5)), (2, (7, 3)), (4, (11, 4))):
    pattern("P", size, 3 if depth == 2 else 1 << depth).save(folder / f"depth{depth}.png")
pattern("P", (10, 6), 12).save(folder / "short-plte.png")  # 4 bits, 12 colours
pattern("RGB", (13, 7), 200).save(folder / "rgb.png")
pattern("RGBA", (6, 5), 200).save(folder / "rgba.png")
interlaced("adam7-rgb.png", pattern("RGB", (10, 9), 250), 8, 3)
interlaced("adam7-depth4.png", pattern("P", (3, 2), 16), 4, 1)
interlaced("adam7-one.png", pattern("P", (1, 1), 16), 8, 1)

for path in sorted(folder.glob("*.png")):
    with Image.open(path) as image:
        mode = "P" if image.mode == "P" else "RGB"
        palette = bytes(image.getpalette()).hex() if mode == "P" else "-"
        pixels = image.convert(mode).tobytes().hex()
        print(path.name, image.width, image.height, mode, pixels, palette)

#!/usr/bin/python3
"""Reads pictures with an independent image library.

read_pictures.py PICTURE: prints "WIDTH HEIGHT", then the pixels top row first as hex RGB.
read_pictures.py --compare FOLDER: every NAME.PNG in FOLDER must decode to exactly the pixels,
mode and palette of NAME.BMP; prints each difference and exits with 1 if there is one.
read_pictures.py --make FOLDER: writes PNG files of kinds our writers never make into FOLDER
(interlaced ones framed here, using every row filter), and prints how the library reads each:
"NAME WIDTH HEIGHT P|RGB PIXELS PALETTE" in hexadecimal ("-" for no palette).
"""
import pathlib
import struct
import sys
import zlib

from PIL import Image

ADAM7 = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)]


def pattern(mode, width, height, colours):
    image = Image.new(mode, (width, height))
    values = [(x * 7 + y * 13 + x * y) % colours for y in range(height) for x in range(width)]
    image.putdata(values if mode == "P" else [(v * 37 % 256, v * 11 % 256, 255 - v, 255) for v in values])
    if mode == "P":
        image.putpalette([(i * 29 + k * 71) % 256 for i in range(colours) for k in range(3)])
    return image


def interlaced(path, image, depth):
    (width, height), bands = image.size, [band.load() for band in image.split()]
    step, rows, count = max(1, len(bands) * depth // 8), b"", 0
    for x0, y0, dx, dy in ADAM7:
        above = bytes(width * 3)
        for y in range(y0, height if x0 < width else 0, dy):
            bits = "".join(format(band[x, y], f"0{depth}b") for x in range(x0, width, dx) for band in bands)
            raw = int(bits + "0" * (-len(bits) % 8), 2).to_bytes((len(bits) + 7) // 8, "big")
            left, up, kind = bytes(step) + raw, bytes(step) + above, count % 5
            rows += bytes([kind])
            for i, byte in enumerate(raw):
                a, b, c = left[i], up[i + step], up[i]
                p = a + b - c
                paeth = min((abs(p - a), 0, a), (abs(p - b), 1, b), (abs(p - c), 2, c))[2]
                rows += bytes([(byte - [0, a, b, (a + b) // 2, paeth][kind]) & 255])
            above, count = raw, count + 1

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    head = struct.pack(">IIBBBBB", width, height, depth, 3 if image.mode == "P" else 2, 0, 0, 1)
    plte = chunk(b"PLTE", bytes(image.getpalette())) if image.mode == "P" else b""
    path.write_bytes(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", head) + plte + chunk(b"IDAT", zlib.compress(rows)) +
                     chunk(b"IEND", b""))


if sys.argv[1] == "--make":
    folder = pathlib.Path(sys.argv[2])
    for colours, size in ((2, (9, 5)), (3, (7, 3)), (12, (10, 6))):  # 1, 2 and 4 bits, PLTE short
        pattern("P", *size, colours).save(folder / f"colours{colours}.png")
    pattern("RGB", 13, 7, 200).save(folder / "rgb.png")
    pattern("RGBA", 6, 5, 200).save(folder / "rgba.png")
    interlaced(folder / "adam7-rgb.png", pattern("RGB", 10, 9, 250), 8)
    interlaced(folder / "adam7-depth4.png", pattern("P", 3, 2, 16), 4)
    for path in sorted(folder.glob("*.png")):
        with Image.open(path) as image:
            mode = "P" if image.mode == "P" else "RGB"
            palette = bytes(image.getpalette()).hex() if mode == "P" else "-"
            print(path.name, image.width, image.height, mode, image.convert(mode).tobytes().hex(), palette)
    sys.exit(0)

if sys.argv[1] == "--compare":
    folder = pathlib.Path(sys.argv[2])
    pngs = sorted(folder.glob("*.PNG"))
    differences = 0
    for png_path in pngs:
        with Image.open(png_path) as png, Image.open(png_path.with_suffix(".BMP")) as bmp:
            same = (png.mode, png.size, png.tobytes()) == (bmp.mode, bmp.size, bmp.tobytes())
            if same and png.mode == "P":
                same = png.getpalette() == bmp.getpalette()
            if not same:
                differences += 1
                print(f"{png_path.name}: {png.mode} {png.size} vs {bmp.mode} {bmp.size}")
    print(f"{len(pngs)} PNG files compared, {differences} differ")
    sys.exit(1 if differences or not pngs else 0)

with Image.open(sys.argv[1]) as image:
    image.load()
    rgb = image.convert("RGB")
    print(rgb.width, rgb.height)
    print(rgb.tobytes().hex())

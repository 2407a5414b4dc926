#!/usr/bin/python3
"""Pictures by an independent image library, for the tool's picture reader to read.

read_pictures.py --make FOLDER [--magick]: writes BMP and PNG files of kinds our writers never
make into FOLDER, with the library (interlaced PNG framed here, using every row filter) and, with
--magick, with ImageMagick's convert; prints what each holds: "NAME WIDTH HEIGHT P|RGB PIXELS
PALETTE" in hexadecimal ("-" for no palette) as the library reads it or as made, or "NAME refused"
for pictures that are not opaque.
"""
import pathlib
import struct
import subprocess
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


def widened(value, bits):  # a channel of 5 to 8 bits widened to 8 by repeating its top bits
    return (value << (8 - bits) | value >> (2 * bits - 8)) & 255


def image_of(mode, values, width=6):
    image = Image.new(mode, (width, len(values) // width))
    image.putdata(values)
    return image


def fields(widths, alpha=()):  # colours that writers rounding or truncating to these widths keep
    kept = [[v for v in map(widened, range(1 << w), [w] * 64) if v * ((1 << w) - 1) // 255 == v >> (8 - w)]
            for w in widths]
    return image_of("RGBA" if alpha else "RGB", [tuple(k[(i * 5 + c * 11) % len(k)] for c, k in enumerate(kept))
                                                 + alpha for i in range(24)])


def translucent(image):
    image = image.convert("RGBA")
    image.putpixel((1, 1), (1, 2, 3, 254))
    return image


def pillow(image, **options):
    return lambda path: image.save(path, **options)


def magick(source, *options, prefix=""):  # the source saved by the library, then converted
    def make(path):
        source.save(path.with_suffix(".source.png"))
        subprocess.run(["convert", path.with_suffix(".source.png"), *options, prefix + str(path)], check=True)
    return make


def described(image):
    mode = "P" if image.mode == "P" else "RGB"
    palette = bytes(image.getpalette()).hex() if mode == "P" else "-"
    return f"{image.width} {image.height} {mode} {image.convert(mode).tobytes().hex()} {palette}"


def made_cases():  # name, writer, and pixels expected: None for as the library reads the file
    rgb, rgba, grey = pattern("RGB", 7, 5, 200), pattern("RGBA", 6, 5, 200), pattern("RGB", 9, 4, 251).convert("L")
    deep_grey = [v * 4099 % 65536 for v in range(40)] + [0x00FF, 0xFF7F]  # any 16-bit greys, rounded
    return [
        ("colours2.png", pillow(pattern("P", 9, 5, 2)), None),  # 1, 2 and 4 bits, PLTE short
        ("colours3.png", pillow(pattern("P", 7, 3, 3)), None),
        ("colours12.png", pillow(pattern("P", 10, 6, 12)), None),
        ("palette-alpha.png", pillow(pattern("P", 5, 4, 7), transparency=0), None),
        ("rgb.png", pillow(pattern("RGB", 13, 7, 200)), None),
        ("rgba.png", pillow(rgba), None),
        ("adam7-rgb.png", lambda path: interlaced(path, pattern("RGB", 10, 9, 250), 8), None),
        ("adam7-depth4.png", lambda path: interlaced(path, pattern("P", 3, 2, 16), 4), None),
        ("grey1.png", pillow(grey.convert("1")), None),
        ("grey-alpha8.png", pillow(grey.convert("LA")), None),
        ("grey16.png", pillow(image_of("I;16", deep_grey)), image_of("L", [(v * 255 + 32767) // 65535 for v in deep_grey])),
        ("grey-key.png", pillow(grey, transparency=250), None),  # a grey no pixel has
        ("rgb-key-hit.png", pillow(rgb, transparency=rgb.getpixel((6, 4))), "refused"),
        ("32-bit.bmp", pillow(translucent(rgb)), None),  # no bit fields: the fourth byte ignored
    ], [
        ("rle8.bmp", magick(rgb, "-type", "Palette", prefix="BMP3:"), None),
        ("1-bit.bmp", magick(rgb, "-colors", "2", prefix="BMP3:"), None),
        ("4-bit.bmp", magick(rgb, "-colors", "16", prefix="BMP3:"), None),
        ("24-bit.bmp", magick(rgb), None),  # 124-byte header
        ("32-bit-fields.bmp", magick(rgba), None),
        ("32-bit-alpha-0.bmp", magick(rgba, "-alpha", "transparent"), None),
        ("32-bit-translucent.bmp", magick(translucent(rgba)), "refused"),
        ("565.bmp", magick(fields((5, 6, 5)), "-define", "bmp:subtype=RGB565"), fields((5, 6, 5))),
        ("1555.bmp", magick(fields((5, 5, 5), (255,)), "-define", "bmp:subtype=ARGB1555"), fields((5, 5, 5))),
        ("rgb16.png", magick(rgb, "-depth", "16", prefix="PNG48:"), None),
        ("rgba16.png", magick(rgba, "-depth", "16", prefix="PNG64:"), None),
        ("grey8.png", magick(rgb, "-colorspace", "Gray"), None),
        ("grey2.png", magick(rgb, "-colorspace", "Gray", "-depth", "2"), None),
        ("grey4.png", magick(rgb, "-colorspace", "Gray", "-depth", "4"), None),
        ("grey-alpha16.png", magick(grey.convert("LA"), "-define", "png:bit-depth=16", "-define", "png:color-type=4"),
         None),
        ("palette-trns.png", magick(rgb, "-transparent", "#%02x%02x%02x" % rgb.getpixel((0, 0)), prefix="PNG8:"), None),
    ]


folder = pathlib.Path(sys.argv[2])
by_library, by_magick = made_cases()
for name, make, expected in by_library + (by_magick if "--magick" in sys.argv else []):
    make(folder / name)
    with Image.open(folder / name) as image:
        print(name, expected if isinstance(expected, str) else described(expected or image))

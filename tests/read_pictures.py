#!/usr/bin/python3
"""Reads pictures with an independent image library.

read_pictures.py PICTURE: prints "WIDTH HEIGHT", then the pixels top row first as hex RGB.
read_pictures.py --compare FOLDER: every NAME.PNG in FOLDER must decode to exactly the pixels,
mode and palette of NAME.BMP; prints each difference and exits with 1 if there is one.
"""
import pathlib
import sys

from PIL import Image

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

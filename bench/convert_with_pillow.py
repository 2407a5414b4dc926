#!/usr/bin/python3
"""convert_with_pillow.py FOLDER: saves every FOLDER/*.BMP as FOLDER/*.png with Pillow's
defaults, in one process, as a user converting extracted bitmaps would."""
import pathlib
import sys

from PIL import Image

for bitmap in pathlib.Path(sys.argv[1]).glob("*.BMP"):
    with Image.open(bitmap) as image:
        image.save(bitmap.with_suffix(".png"))

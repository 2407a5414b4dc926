#!/usr/bin/python3
"""Reads a bitmap with an independent image reader and prints its size and RGB pixels.

Output: "WIDTH HEIGHT" on the first line, then the pixels top row first as hex RGB triples.
"""
import sys

from PIL import Image

with Image.open(sys.argv[1]) as image:
    image.load()
    rgb = image.convert("RGB")
    print(rgb.width, rgb.height)
    print(rgb.tobytes().hex())

#!/usr/bin/python3
"""Cuts the photographs out of a page set made by make_pages.py, as the locator sees them
(about 75 dpi, short side 200 pixels), upright and at the three other quarter turns, for
face_detectors.cpp. Pictures without a face are cut too.

Usage: bench/locator/face_crops.py PAGEDIR OUTDIR
"""
import json
import os
import sys

from PIL import Image

pages, out = sys.argv[1], sys.argv[2]
os.makedirs(out, exist_ok=True)
for line in open(os.path.join(pages, "truth.jsonl")):
    t = json.loads(line)
    if not t["photo"]:
        continue
    im = Image.open(os.path.join(pages, t["file"])).convert("L")
    if t["turn"]:
        im = im.transpose({90: Image.ROTATE_270, 180: Image.ROTATE_180, 270: Image.ROTATE_90}[t["turn"]])
    crop = im.crop(tuple(t["photo"]))
    reduce = t["dpi"] // 75
    crop = crop.resize((crop.width // reduce, crop.height // reduce), Image.BOX)
    scale = 200.0 / min(crop.size)
    crop = crop.resize((round(crop.width * scale), round(crop.height * scale)), Image.BILINEAR)
    stem = os.path.splitext(t["file"])[0]
    for turn, op in ((0, None), (90, Image.ROTATE_270), (180, Image.ROTATE_180), (270, Image.ROTATE_90)):
        (crop.transpose(op) if op else crop).save(os.path.join(out, "%s_%d.png" % (stem, turn)))

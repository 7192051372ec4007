#!/usr/bin/python3
"""The batch job as a Pillow user writes it: turn, crop, resize to the kind's size, then try
qualities from 100 down until the JPEG fits the kind's limit; 300 dpi.

    pillow-batch.py ROTATION X,Y,W,H IN OUT [WIDTHxHEIGHT LIMIT]    (default 400x480 34900)
"""
import io
import sys

from PIL import Image



def main():
    rotation, rect, src, dst = sys.argv[1:5]
    size = tuple(int(v) for v in (sys.argv[5] if len(sys.argv) > 5 else "400x480").split("x"))
    limit = int(sys.argv[6]) if len(sys.argv) > 6 else 34900
    x, y, w, h = (int(v) for v in rect.split(","))
    image = Image.open(src)
    if image.mode != "RGB":
        image = image.convert("RGB")
    # Pillow turns counter-clockwise; a clockwise quarter turn is its ROTATE_270.
    turn = {
        0: None,
        90: Image.Transpose.ROTATE_270,
        180: Image.Transpose.ROTATE_180,
        270: Image.Transpose.ROTATE_90,
    }[int(rotation)]
    if turn is not None:
        image = image.transpose(turn)
    image = image.crop((x, y, x + w, y + h)).resize(size, Image.Resampling.LANCZOS)
    for quality in range(100, 0, -1):
        buffer = io.BytesIO()
        image.save(buffer, "JPEG", quality=quality, optimize=True, dpi=(300, 300))
        if buffer.tell() <= limit:
            with open(dst, "wb") as f:
                f.write(buffer.getvalue())
            print(f"quality={quality} bytes={buffer.tell()}")
            return 0
    print("no quality fits", file=sys.stderr)
    return 1


if __name__ == "__main__":
    sys.exit(main())

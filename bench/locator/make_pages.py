#!/usr/bin/python3
"""Makes a set of scanned-looking form pages for measuring the locator.

Usage: bench/locator/make_pages.py OUTDIR [--count N] [--seed S]

Each page is an A4 form at 300 or 600 dpi with printed text, ruled fields and boxes in one
of several layouts; most carry a photograph of a real face (scikit-image's astronaut and
the faces of its lfw_subset) and a handwritten-looking signature at a random place and
size, some carry a picture that is no face, some neither. Pages are upright or sideways,
clean or noisy, colour or grey, JPEG, BMP or GIF. Beside the pages, truth.jsonl holds one
line per page (file, dpi, the clockwise turn that makes it upright, the photograph's and
the face's rectangles and the signature's ink on the upright page) and sig_<n>.png the
signature's ink mask. Needs Debian's python3-skimage (numpy, PIL).
"""
import argparse
import json
import math
import os
import random

import numpy as np
from PIL import Image, ImageDraw, ImageFilter, ImageFont
import skimage.data

FONTS = "/usr/share/fonts/truetype/liberation/"
WORDS = ("cognome nome data luogo nascita codice fiscale indirizzo residenza comune provincia "
         "patente guida categoria richiesta rilascio carta qualificazione conducente domanda "
         "dichiara sottoscritto trattamento dati personali veritieri ufficio sportello pratica "
         "numero protocollo allegato documento identita validita scadenza timbro").split()


def mm(value, dpi):
    return int(round(value * dpi / 25.4))


def font(name, size):
    return ImageFont.truetype(FONTS + name, max(8, size))


def sentence(rng, n):
    return " ".join(rng.choice(WORDS) for _ in range(n))


class Faces:
    def __init__(self):
        self.astronaut = skimage.data.astronaut()
        self.lfw = skimage.data.lfw_subset()

    def photo(self, rng, w, h):
        """A passport-style photograph of w x h pixels and the face's box inside it."""
        if rng.random() < 0.3:
            # A crop of the astronaut portrait around her face (x 172..278, y 62..192).
            fw = 106
            scale = rng.uniform(0.45, 0.65) * w / fw
            cw, ch = w / scale, h / scale
            cx = 225 + rng.uniform(-0.08, 0.08) * cw
            cy = 127 + rng.uniform(-0.02, 0.12) * ch
            x0 = min(max(0, cx - cw / 2), 512 - cw)
            y0 = min(max(0, cy - ch / 2 + 0.05 * ch), 512 - ch)
            img = Image.fromarray(self.astronaut).crop(
                (int(x0), int(y0), int(x0 + cw), int(y0 + ch))).resize((w, h), Image.BICUBIC)
            face = ((172 - x0) * scale, (62 - y0) * scale, (278 - x0) * scale, (192 - y0) * scale)
            return img, face
        # An lfw face on a plain background with shoulders below.
        index = rng.randrange(0, 100)
        face_arr = (self.lfw[index] * 255).astype(np.uint8)
        bg = tuple(rng.randint(110, 225) for _ in range(3))
        img = Image.new("RGB", (w, h), bg)
        d = ImageDraw.Draw(img)
        fs = int(w * rng.uniform(0.55, 0.72))
        fx = (w - fs) // 2 + int(rng.uniform(-0.06, 0.06) * w)
        fy = int(h * rng.uniform(0.12, 0.25))
        cloth = tuple(rng.randint(10, 90) for _ in range(3))
        d.ellipse((fx - fs * 0.35, fy + fs * 0.95, fx + fs * 1.35, fy + fs * 2.4), fill=cloth)
        tint = (1.0, rng.uniform(0.85, 0.95), rng.uniform(0.7, 0.85))
        face = Image.fromarray(face_arr).resize((fs, fs), Image.BICUBIC).convert("RGB")
        face = Image.merge("RGB", [c.point(lambda v, t=t: int(v * t)) for c, t in zip(face.split(), tint)])
        mask = Image.new("L", (fs, fs), 0)
        ImageDraw.Draw(mask).ellipse((0, -fs * 0.1, fs, fs * 1.1), fill=255)
        mask = mask.filter(ImageFilter.GaussianBlur(fs * 0.04))
        img.paste(face, (fx, fy), mask)
        return img, (fx + fs * 0.1, fy + fs * 0.05, fx + fs * 0.9, fy + fs * 0.95)

    def not_a_face(self, rng, w, h):
        arr = (self.lfw[rng.randrange(100, 200)] * 255).astype(np.uint8)
        return Image.fromarray(arr).resize((w, h), Image.BICUBIC).convert("RGB")


def signature(rng, dpi):
    """Handwritten-looking ink: a few cursive words of loops, slanted, with a flourish."""
    h = mm(rng.uniform(9, 20), dpi)
    w = int(h * rng.uniform(3.2, 6.5))
    pad = mm(3, dpi)
    img = Image.new("L", (w + 2 * pad, h + 2 * pad), 0)
    d = ImageDraw.Draw(img)
    pen = max(2, mm(rng.uniform(0.3, 0.7), dpi))
    slant = rng.uniform(-0.1, 0.45)
    words = rng.randint(1, 3)
    x = pad
    base = pad + h * 0.7
    for wi in range(words):
        letters = rng.randint(3, 7)
        span = (w - (words - 1) * h * 0.3) / words
        step = span / letters
        points = []
        for li in range(letters):
            tall = rng.random() < 0.35
            amp = h * (0.65 if tall else 0.3) * rng.uniform(0.8, 1.1)
            for k in range(13):
                t = k / 12
                px = x + step * (li + t) + math.sin(2 * math.pi * t) * step * 0.25
                py = base - amp * (0.5 - 0.5 * math.cos(2 * math.pi * t))
                if li == 0 and wi == 0 and k < 6:
                    py += h * 0.1 * (1 - t)
                points.append((px + (base - py) * slant, py))
        d.line(points, fill=255, width=pen, joint="curve")
        x += span + h * 0.3
    if rng.random() < 0.5:
        y = base + h * rng.uniform(0.05, 0.2)
        pts = [(pad + w * t, y + math.sin(t * 3.1) * h * 0.08 - t * h * 0.1) for t in np.linspace(0, 1, 30)]
        d.line(pts, fill=255, width=pen, joint="curve")
    img = img.filter(ImageFilter.GaussianBlur(pen * 0.15))
    box = img.getbbox()
    return img.crop(box)


def page(rng, faces, n):
    dpi = 600 if rng.random() < 0.2 else 300
    W, H = mm(210, dpi), mm(297, dpi)
    paper = tuple(rng.randint(238, 252) for _ in range(3))
    img = Image.new("RGB", (W, H), paper)
    d = ImageDraw.Draw(img)
    ink = (rng.randint(10, 40),) * 3
    layout = rng.randrange(4)
    kind = rng.random()
    has_photo = kind < 0.72
    other_picture = 0.72 <= kind < 0.80
    has_sig = rng.random() < 0.8
    left = mm(rng.uniform(15, 25), dpi)

    # Heading and body text.
    y = mm(rng.uniform(12, 25), dpi)
    d.text((left, y), sentence(rng, 4).upper(), font=font("LiberationSans-Bold.ttf", mm(rng.uniform(4, 7), dpi)), fill=ink)
    y += mm(12, dpi)
    body = font(rng.choice(["LiberationSans-Regular.ttf", "LiberationSerif-Regular.ttf"]), mm(rng.uniform(2.8, 4), dpi))
    mono = font("LiberationMono-Regular.ttf", mm(rng.uniform(3.5, 4.5), dpi))

    # The photograph's place, by layout.
    pw = mm(rng.uniform(30, 48), dpi)
    ph = int(pw * rng.uniform(1.15, 1.35))
    if layout == 0:
        px, py = W - left - pw, y + mm(5, dpi)
    elif layout == 1:
        px, py = left, y + mm(5, dpi)
    elif layout == 2:
        px, py = W - left - pw, mm(rng.uniform(110, 160), dpi)
    else:
        px, py = (W - pw) // 2 + mm(rng.uniform(-40, 40), dpi), y + mm(rng.uniform(5, 60), dpi)
    photo = face = None
    if has_photo or other_picture:
        if rng.random() < 0.6:
            m = mm(1.5, dpi)
            d.rectangle((px - m, py - m, px + pw + m, py + ph + m), outline=ink, width=max(1, mm(0.3, dpi)))
        if has_photo:
            pic, fbox = faces.photo(rng, pw, ph)
            face = [px + fbox[0], py + fbox[1], px + fbox[2], py + fbox[3]]
            photo = [px, py, px + pw, py + ph]
        else:
            pic = faces.not_a_face(rng, pw, ph)
        img.paste(pic, (px, py))
        d.text((px, py + ph + mm(3, dpi)), "Fotografia", font=body, fill=ink)

    # Ruled fields, keeping clear of the picture.
    fy = y + mm(8, dpi)
    keep_out = (px - mm(8, dpi), py - mm(8, dpi), px + pw + mm(8, dpi), py + ph + mm(14, dpi))
    fields = rng.randint(5, 11)
    gap = mm(rng.uniform(9, 13), dpi)
    for i in range(fields):
        x0, x1 = left, W - left
        if keep_out[1] <= fy <= keep_out[3] and (has_photo or other_picture):
            if px > W / 2:
                x1 = keep_out[0]
            else:
                x0 = keep_out[2]
        if x1 - x0 > mm(60, dpi):
            d.text((x0, fy - mm(5, dpi)), sentence(rng, 2).capitalize(), font=body, fill=ink)
            d.line((x0 + mm(45, dpi), fy, x1, fy), fill=(90, 90, 90), width=max(1, mm(0.2, dpi)))
            if rng.random() < 0.7:
                d.text((x0 + mm(48, dpi), fy - mm(6, dpi)), sentence(rng, 2).upper(), font=mono, fill=(20, 20, 70))
        fy += gap
    fy = max(fy, keep_out[3]) + mm(6, dpi)
    for i in range(rng.randint(2, 6)):
        d.text((left, fy), sentence(rng, 11), font=body, fill=ink)
        fy += mm(6, dpi)

    # The signature, in a box or over a line, below the text.
    sig = None
    sy = fy + mm(rng.uniform(8, 30), dpi)
    if has_sig and sy < H - mm(60, dpi):
        s = signature(rng, dpi)
        sw, sh = s.size
        sx = rng.choice([left + mm(rng.uniform(0, 20), dpi), W - left - sw - mm(rng.uniform(0, 20), dpi)])
        d.text((sx, sy - mm(7, dpi)), "Firma del richiedente", font=body, fill=ink)
        style = rng.randrange(3)
        if style == 0:
            m = mm(4, dpi)
            d.rectangle((sx - m, sy - m, sx + sw + m, sy + sh + m), outline=ink, width=max(1, mm(0.3, dpi)))
        elif style == 1:
            ly = sy + int(sh * rng.uniform(0.6, 0.95))
            d.line((sx - mm(5, dpi), ly, sx + sw + mm(5, dpi), ly), fill=(90, 90, 90), width=max(1, mm(0.2, dpi)))
        colour = rng.choice([(22, 36, 120), (15, 15, 25), (30, 40, 150)])
        img.paste(Image.new("RGB", s.size, colour), (sx, sy), s)
        sig = [sx, sy, sx + sw, sy + sh]
        s.point(lambda v: 255 if v > 100 else 0).save(os.path.join(OUT, "sig_%03d.png" % n))
    # Footer and office box.
    fy = max(fy, (sig[3] if sig else fy)) + mm(15, dpi)
    if fy < H - mm(50, dpi):
        d.rectangle((left, fy, W - left, fy + mm(30, dpi)), outline=ink, width=max(1, mm(0.3, dpi)))
        d.text((left + mm(3, dpi), fy + mm(3, dpi)), "SPAZIO RISERVATO ALL'UFFICIO", font=body, fill=ink)
    d.text((left, H - mm(12, dpi)), "Mod. %d - Pagina 1 di 1" % rng.randint(100, 999), font=body, fill=(110, 110, 110))

    noisy = rng.random() < 0.5
    if noisy:
        img = img.filter(ImageFilter.GaussianBlur(0.6 * dpi / 300))
        arr = np.asarray(img).astype(np.int16)
        arr += np.random.default_rng(n).normal(0, rng.uniform(5, 12), arr.shape).astype(np.int16)
        img = Image.fromarray(np.clip(arr, 0, 255).astype(np.uint8))
    grey = rng.random() < 0.3
    if grey:
        img = img.convert("L")
    turn = rng.choice([0, 0, 90, 270, 180]) if rng.random() < 0.55 else 0
    stored = img
    if turn:
        # Stored turned anticlockwise, so that a clockwise turn of `turn` makes it upright.
        stored = img.transpose({90: Image.ROTATE_90, 180: Image.ROTATE_180, 270: Image.ROTATE_270}[turn])
    fmt = rng.choices(["jpg", "bmp", "gif"], [6, 2, 2])[0]
    if dpi == 600 and fmt != "jpg":
        fmt = "jpg"
    name = "page_%03d.%s" % (n, fmt)
    path = os.path.join(OUT, name)
    if fmt == "jpg":
        stored.save(path, quality=rng.randint(70, 92))
    elif fmt == "bmp":
        stored.save(path)
    else:
        stored.convert("RGB").quantize(256, method=Image.MEDIANCUT).save(path) if not grey else stored.save(path)
    return {
        "file": name, "dpi": dpi, "turn": turn, "width": W, "height": H, "format": fmt,
        "grey": grey, "noisy": noisy, "layout": layout,
        "photo": photo, "face": face, "other_picture": other_picture,
        "picture": [px, py, px + pw, py + ph] if (has_photo or other_picture) else None,
        "signature": sig, "signature_mask": ("sig_%03d.png" % n) if sig else None,
    }


def main():
    global OUT
    p = argparse.ArgumentParser()
    p.add_argument("outdir")
    p.add_argument("--count", type=int, default=120)
    p.add_argument("--seed", type=int, default=2026)
    a = p.parse_args()
    OUT = a.outdir
    os.makedirs(OUT, exist_ok=True)
    rng = random.Random(a.seed)
    np.random.seed(a.seed)
    faces = Faces()
    with open(os.path.join(OUT, "truth.jsonl"), "w") as truth:
        for n in range(a.count):
            truth.write(json.dumps(page(random.Random(rng.random()), faces, n)) + "\n")
    print("%d pages in %s" % (a.count, OUT))


if __name__ == "__main__":
    main()

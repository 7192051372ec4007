#!/usr/bin/python3
"""Makes Italian application forms as offices fill them in and scan them, for measuring the
locator on pages it was not tuned on.

Usage: bench/locator/make_forms.py OUTDIR [--count N] [--seed S] [--faces DIR]
       bench/locator/make_forms.py OUTDIR --sweep CONDITION [--count N] [--seed S]

The forms have their own layouts (photo box top right, top left or in the middle, ruled
fields, boxes for the codice fiscale, check boxes, labelled signature places, the office's
box) and are filled in by hand: names, dates, initials, ticks, a written codice fiscale, a
signature on a line or in a box, sometimes with the printed name under it. The photographs
are real faces listed in faces.json (fetch them once with fetch_faces.sh; --faces or
$VETRA_FACES names the cache). Scanning conditions: photo background, glued tilt, page
skew on top of a quarter turn, halftone print or grey photocopy, an office stamp over a
photo corner, a dark scanner-lid border, 200/300/600 dpi, JPEG quality, BMP and GIF.

A mixed set draws every condition at random. A sweep (--sweep bg|tilt|skew|print|stamp|lid|
dpi|quality|format|sig_stamp) draws COUNT pages and repeats each once per value of that
condition, everything else equal; sig_stamp (a round stamp beside the signature) exists
only as a sweep.

truth.jsonl has one line per page, with make_pages.py's keys (file, dpi, turn, width,
height, format, grey, noisy, layout, photo, face, other_picture, picture, signature,
signature_mask; photo is the bounding box of a tilted photograph) and these: skew (degrees
the upright page was turned clockwise about its centre, on a canvas of the same size, as
it lay on the scanner: the stored page turned clockwise by `turn` is the upright page so
skewed), tilt (the glued photograph's own clockwise angle on the page), photo_quad (its
four corners, clockwise from the top left), head (crown
to chin, ear to ear), square (the band a square photo must hold: crown to chin where it
fits the photograph's width), photo_bg, print, stamp, lid, quality, condition, picture_kind,
signature_label, signature_style, office_box, office_signature, signature_stamp. Rectangles are x0,y0,x1,y1
in pixels of the upright page before the skew; sig_<n>.png is the signature's ink mask over
its rectangle.
"""
import argparse
import json
import math
import os
import random

import numpy as np
from PIL import Image, ImageChops, ImageDraw, ImageFilter, ImageFont

HERE = os.path.dirname(os.path.abspath(__file__))
FONT_DIR = "/usr/share/fonts/truetype/"
SANS = ["dejavu/DejaVuSans.ttf", "liberation/LiberationSans-Regular.ttf"]
SANS_BOLD = ["dejavu/DejaVuSans-Bold.ttf", "liberation/LiberationSans-Bold.ttf"]
SERIF = ["dejavu/DejaVuSerif.ttf", "liberation/LiberationSerif-Regular.ttf"]

OFFICES = ["COMUNE DI %s", "PREFETTURA DI %s", "MOTORIZZAZIONE CIVILE - UFFICIO DI %s",
           "PROVINCIA DI %s - SERVIZIO TRASPORTI", "AZIENDA SANITARIA LOCALE DI %s"]
CITIES = ["ROMA", "MILANO", "TORINO", "NAPOLI", "PALERMO", "GENOVA", "BOLOGNA", "FIRENZE",
          "BARI", "VERONA", "PADOVA", "TRIESTE", "BRESCIA", "PARMA", "PERUGIA", "LECCE"]
TITLES = ["DOMANDA DI RILASCIO DELLA CARTA DI QUALIFICAZIONE DEL CONDUCENTE",
          "RICHIESTA DI DUPLICATO DELLA PATENTE DI GUIDA",
          "DICHIARAZIONE SOSTITUTIVA DI CERTIFICAZIONE",
          "ISTANZA DI RINNOVO DEL CERTIFICATO DI FORMAZIONE PROFESSIONALE",
          "MODULO DI RICHIESTA TESSERA DI RICONOSCIMENTO"]
BODY = ("Il sottoscritto, consapevole delle sanzioni penali previste in caso di dichiarazioni "
        "mendaci, dichiara sotto la propria responsabilita che i dati riportati nel presente "
        "modulo sono veritieri e autorizza il trattamento dei dati personali ai sensi della "
        "normativa vigente per le finalita connesse al procedimento amministrativo richiesto "
        "allega copia del documento di identita in corso di validita e due fotografie recenti").split()
SURNAMES = ["ROSSI", "BIANCHI", "ESPOSITO", "COLOMBO", "RICCI", "MARINO", "GRECO", "BRUNO",
            "GALLO", "CONTI", "DE LUCA", "MANCINI", "COSTA", "GIORDANO", "RIZZO", "LOMBARDI"]
NAMES = ["MARIO", "GIULIA", "LUCA", "FRANCESCA", "MARCO", "CHIARA", "ANDREA", "SARA",
         "PAOLO", "ELENA", "DAVIDE", "ANNA", "STEFANO", "MARTINA", "GIORGIO", "LAURA"]
APPLICANT_LABELS = ["Firma", "Firma del richiedente", "Firma leggibile", "Il/La dichiarante",
                    "Firma del dichiarante", "Firma del titolare"]
OFFICE_LABELS = ["Timbro e firma dell'ufficio", "Firma dell'addetto", "Timbro dell'ufficio e firma del funzionario"]

# The conditions a sweep can vary, each with the values it takes.
SWEEPS = {
    "bg": [110, 150, 190, 220, 238, 245],
    "tilt": [0.0, 0.5, 1.0, 1.5, 2.0],
    "skew": [0.0, 0.5, 0.75, 1.0, 1.5, 2.0, 3.0],
    "print": ["colour", "halftone", "photocopy"],
    "stamp": ["none", "round", "rect"],
    "lid": [False, True],
    "dpi": [200, 300, 600],
    "quality": [50, 70, 90],
    "format": ["jpg", "bmp", "gif"],
    "sig_stamp": [False, True],
}


def font(names, px):
    return ImageFont.truetype(FONT_DIR + names[0], max(6, int(px)))


class Scale:
    def __init__(self, dpi):
        self.dpi = dpi

    def __call__(self, millimetres):
        return int(round(millimetres * self.dpi / 25.4))


# --- Face photographs -------------------------------------------------------------------


class Faces:
    def __init__(self, cache):
        with open(os.path.join(HERE, "faces.json")) as f:
            manifest = json.load(f)
        self.entries = []
        for e in manifest["faces"]:
            path = self.locate(cache, e)
            if path:
                self.entries.append(dict(e, path=path))
        if len({e["person"] for e in self.entries}) < 10:
            raise SystemExit("fewer than 10 people found: run bench/locator/fetch_faces.sh first (cache %s)" % cache)
        self.images = {}

    @staticmethod
    def locate(cache, entry):
        if entry["package"].startswith("deb:python3-skimage"):
            import skimage.data
            path = os.path.join(os.path.dirname(skimage.data.__file__), entry["file"])
        else:
            package = entry["package"][4:]
            path = os.path.join(cache, package.replace("/", "_").replace("@", "_"), entry["file"])
        return path if os.path.exists(path) else None

    def image(self, entry):
        if entry["path"] not in self.images:
            self.images[entry["path"]] = Image.open(entry["path"]).convert("RGB")
        return self.images[entry["path"]]

    def photo(self, rng, w, h, bg, plain):
        """A passport photograph of w x h pixels: the image, the face box and the head box in it.

        The head (crown to chin) takes 55-75 % of the height with some room above, as booth
        photographs have. With plain set the background outside the head and shoulders is
        replaced by the grey level bg (slightly tinted), as a booth's screen gives it."""
        entry = rng.choice(self.entries)
        src = self.image(entry)
        hx0, hy0, hx1, hy1 = entry["head"]
        head_h = hy1 - hy0
        scale = h * rng.uniform(0.55, 0.75) / head_h
        top = h * rng.uniform(0.07, 0.16)
        cx = (hx0 + hx1) / 2 + rng.uniform(-0.04, 0.04) * w / scale
        x0 = cx - w / 2 / scale
        y0 = hy0 - top / scale
        box = (x0, y0, x0 + w / scale, y0 + h / scale)
        # Past the source's edge: its mean border colour above and beside, clothes below.
        pad = int(max(src.size))
        arr = np.asarray(src)
        border = np.concatenate([arr[0], arr[:, 0], arr[:, -1]]).mean(axis=0)
        padded = Image.new("RGB", (src.width + 2 * pad, src.height + 2 * pad), tuple(int(v) for v in border))
        padded.paste(Image.new("RGB", (src.width + 2 * pad, pad), tuple(rng.randint(15, 70) for _ in range(3))),
                     (0, src.height + pad))
        padded.paste(src, (pad, pad))
        img = padded.transform((w, h), Image.EXTENT, tuple(v + pad for v in box), Image.BICUBIC)

        def to_photo(b):
            return [(b[0] - x0) * scale, (b[1] - y0) * scale, (b[2] - x0) * scale, (b[3] - y0) * scale]

        face = to_photo(entry["face"])
        head = to_photo(entry["head"])
        if plain:
            tint = [bg + rng.randint(-6, 6) for _ in range(3)]
            tint[2] = min(255, tint[2] + rng.randint(0, 8))
            back = Image.new("RGB", (w, h), tuple(max(0, min(255, v)) for v in tint))
            mask = Image.new("L", (w, h), 0)
            d = ImageDraw.Draw(mask)
            hw, hh = head[2] - head[0], head[3] - head[1]
            d.ellipse((head[0] - 0.06 * hw, head[1] - 0.04 * hh, head[2] + 0.06 * hw, head[3] + 0.02 * hh), fill=255)
            neck = ((head[0] + head[2]) / 2, head[3] - 0.1 * hh)
            d.rectangle((neck[0] - 0.22 * hw, neck[1], neck[0] + 0.22 * hw, h), fill=255)
            d.polygon([(neck[0] - 1.25 * hw, h), (neck[0] - 0.9 * hw, head[3] + 0.25 * hh),
                       (neck[0] + 0.9 * hw, head[3] + 0.25 * hh), (neck[0] + 1.25 * hw, h)], fill=255)
            mask = mask.filter(ImageFilter.GaussianBlur(max(1, w * 0.012)))
            img = Image.composite(img, back, mask)
        return img, face, head, entry["person"]


# --- Handwriting ------------------------------------------------------------------------


def smooth_noise(rng, n, scale):
    """n values of a smooth random curve (a few low sine components)."""
    t = np.linspace(0, 1, n)
    out = np.zeros(n)
    for k in range(1, 4):
        out += rng.uniform(-1, 1) * np.sin(2 * math.pi * (k * t + rng.random())) / k
    return out * scale


def hand_text(rng, text, height_px, capitals=False):
    """Text as written by hand: a font's letters warped, wobbled and slanted, as an L mask."""
    f = font(SANS if capitals else SERIF, height_px)
    w = int(f.getlength(text)) + height_px * 2
    img = Image.new("L", (w, height_px * 2), 0)
    ImageDraw.Draw(img).text((height_px // 2, height_px // 3), text, font=f, fill=255)
    arr = np.asarray(img).astype(np.float32)
    hgt, wid = arr.shape
    # Each column moves up and down a little and each row sideways: the letters wander.
    dy = smooth_noise(rng, wid, height_px * 0.08)
    dx = smooth_noise(rng, hgt, height_px * 0.05)
    slant = rng.uniform(-0.05, 0.3)
    ys, xs = np.mgrid[0:hgt, 0:wid].astype(np.float32)
    sx = xs + dx[:, None] + (ys - hgt / 2) * slant
    sy = ys + dy[None, :]
    sxi = np.clip(np.round(sx).astype(int), 0, wid - 1)
    syi = np.clip(np.round(sy).astype(int), 0, hgt - 1)
    warped = Image.fromarray(arr[syi, sxi].astype(np.uint8))
    # A ball pen draws thinner than the font's strokes at large sizes: thin them, then thicken
    # small writing a little so it survives the scan.
    if height_px > 60:
        warped = warped.filter(ImageFilter.MinFilter(3))
    elif height_px < 30:
        warped = warped.filter(ImageFilter.MaxFilter(3))
    box = warped.getbbox()
    return warped.crop(box) if box else warped


def scribble(rng, height_px, width_px):
    """A signature: one pen path of loops and strokes moving right, pressure varying, perhaps
    a final underline. Returns an L mask cropped to its ink."""
    pad = height_px
    img = Image.new("L", (width_px + 2 * pad, height_px * 2 + 2 * pad), 0)
    d = ImageDraw.Draw(img)
    n = int(width_px / height_px * 30) + 40
    t = np.linspace(0, 1, n)
    loops = rng.uniform(4, 9) * width_px / height_px / 4
    # The pace changes along the name: letters of different widths, some loops wide open.
    pace = np.cumsum(np.exp(smooth_noise(rng, n, 0.9)))
    phase = 2 * math.pi * loops * pace / pace[-1]
    x = pad + t * width_px + np.cos(phase) * height_px * rng.uniform(0.12, 0.25)
    amp = height_px * (0.35 + 0.25 * np.abs(smooth_noise(rng, n, 1.5)))
    y = pad + height_px + np.sin(phase) * amp * 0.6 - amp * 0.3 * (np.sin(phase * 0.5 + rng.random()) > 0.6)
    y += smooth_noise(rng, n, height_px * 0.2)
    slant = rng.uniform(0.0, 0.4)
    x += (pad + height_px - y) * slant
    # Split the path into strokes where the pen lifts.
    lifts = sorted(rng.sample(range(10, n - 10), rng.randint(0, 3)))
    speed = np.hypot(np.diff(x), np.diff(y))
    base = max(2, height_px * rng.uniform(0.035, 0.07))
    start = 0
    for end in lifts + [n - 1]:
        for i in range(start, end):
            width = max(1, int(round(base * (1.3 - 0.6 * min(1.0, speed[i] / (height_px * 0.3))))))
            d.line((x[i], y[i], x[i + 1], y[i + 1]), fill=255, width=width)
            d.ellipse((x[i + 1] - width / 2, y[i + 1] - width / 2, x[i + 1] + width / 2, y[i + 1] + width / 2), fill=255)
        start = end + 1
    if rng.random() < 0.45:
        uy = pad + height_px + height_px * rng.uniform(0.5, 0.8)
        ux = np.linspace(pad + width_px * rng.uniform(0, 0.3), pad + width_px * rng.uniform(0.8, 1.05), 25)
        uyy = uy + smooth_noise(rng, 25, height_px * 0.1)
        d.line(list(zip(ux, uyy)), fill=255, width=int(base), joint="curve")
    box = img.getbbox()
    return img.crop(box)


def tick(rng, size):
    img = Image.new("L", (size * 2, size * 2), 0)
    d = ImageDraw.Draw(img)
    w = max(2, size // 8)
    if rng.random() < 0.6:
        pts = [(size * 0.4, size), (size * 0.8, size * 1.5), (size * 1.7, size * 0.3)]
    else:
        pts = [(size * 0.4, size * 0.4), (size * 1.6, size * 1.6)]
        d.line([(size * 1.6, size * 0.4), (size * 0.4, size * 1.6)], fill=255, width=w)
    d.line(pts, fill=255, width=w, joint="curve")
    return img.crop(img.getbbox())


def codice_fiscale(rng, surname, name):
    cons = lambda s: [c for c in s if c.isalpha() and c not in "AEIOU"] + [c for c in s if c in "AEIOU"]
    cf = "".join((cons(surname) + ["X"] * 3)[:3]) + "".join((cons(name) + ["X"] * 3)[:3])
    cf += "%02d" % rng.randint(40, 99) + rng.choice("ABCDEHLMPRST") + "%02d" % rng.randint(1, 68)
    cf += rng.choice("ABCDEFGHLMZ") + "%03d" % rng.randint(1, 999) + rng.choice("ABCDEFGHIJKLMNOPQRSTUVWXYZ")
    return cf


# --- Pictures that are no face ----------------------------------------------------------


def qr_code(rng, size):
    n = 29
    cells = np.array([[rng.random() < 0.5 for _ in range(n)] for _ in range(n)])
    for cy, cx in ((0, 0), (0, n - 7), (n - 7, 0)):
        cells[cy:cy + 7, cx:cx + 7] = False
        cells[cy, cx:cx + 7] = cells[cy + 6, cx:cx + 7] = True
        cells[cy:cy + 7, cx] = cells[cy:cy + 7, cx + 6] = True
        cells[cy + 2:cy + 5, cx + 2:cx + 5] = True
    img = Image.fromarray(np.where(cells, 0, 255).astype(np.uint8)).resize((size, size), Image.NEAREST)
    return img.convert("RGB")


def emblem(rng, w, h):
    img = Image.new("RGB", (w, h), (255, 255, 255))
    d = ImageDraw.Draw(img)
    colour = rng.choice([(20, 90, 40), (30, 40, 140), (150, 20, 30)])
    r = min(w, h) * 0.45
    cx, cy = w / 2, h / 2
    d.ellipse((cx - r, cy - r, cx + r, cy + r), outline=colour, width=max(2, int(r * 0.06)))
    star = []
    for k in range(10):
        rr = r * (0.7 if k % 2 == 0 else 0.3)
        a = -math.pi / 2 + k * math.pi / 5
        star.append((cx + rr * math.cos(a), cy + rr * math.sin(a)))
    d.polygon(star, fill=colour)
    return img


def other_picture(rng, w, h):
    import skimage.data
    name = rng.choice(["chelsea", "coffee", "rocket", "retina", "hubble_deep_field", "immunohistochemistry"])
    arr = getattr(skimage.data, name)()
    img = Image.fromarray(arr).convert("RGB")
    s = max(w / img.width, h / img.height)
    img = img.resize((int(img.width * s) + 1, int(img.height * s) + 1), Image.BICUBIC)
    return img.crop((0, 0, w, h)), name


# --- Stamps -----------------------------------------------------------------------------


def stamp(rng, kind, size, colour):
    """An office stamp as an RGBA image: ring or frame, printed letters, uneven ink."""
    img = Image.new("L", (size, size if kind == "round" else int(size * 0.6)), 0)
    d = ImageDraw.Draw(img)
    w, h = img.size
    line = max(2, size // 40)
    city = rng.choice(CITIES)
    if kind == "round":
        d.ellipse((line, line, w - line, h - line), outline=255, width=line)
        d.ellipse((w * 0.2, h * 0.2, w * 0.8, h * 0.8), outline=255, width=max(1, line // 2))
        f = font(SANS_BOLD, size * 0.09)
        text = "COMUNE DI %s * UFFICIO ANAGRAFE * " % city
        for i, ch in enumerate(text):
            a = -math.pi / 2 + 2 * math.pi * i / len(text)
            r = w * 0.36
            g = Image.new("L", (int(size * 0.12),) * 2, 0)
            ImageDraw.Draw(g).text((0, 0), ch, font=f, fill=255)
            g = g.rotate(-math.degrees(a) - 90, expand=True)
            img.paste(255, (int(w / 2 + r * math.cos(a) - g.width / 2), int(h / 2 + r * math.sin(a) - g.height / 2)), g)
    else:
        d.rectangle((line, line, w - line, h - line), outline=255, width=line)
        f = font(SANS_BOLD, h * 0.16)
        d.text((w * 0.08, h * 0.15), "COMUNE DI", font=f, fill=255)
        d.text((w * 0.08, h * 0.42), city, font=f, fill=255)
        d.text((w * 0.08, h * 0.68), "%02d/%02d/20%02d" % (rng.randint(1, 28), rng.randint(1, 12), rng.randint(20, 26)),
               font=font(SANS, h * 0.13), fill=255)
    arr = np.asarray(img).astype(np.float32) / 255
    patchy = np.asarray(Image.fromarray((np.random.default_rng(rng.randrange(1 << 30)).random((8, 8)) * 255).astype(np.uint8))
                        .resize(img.size, Image.BICUBIC)).astype(np.float32) / 255
    alpha = np.clip(arr * (0.45 + 0.55 * patchy), 0, 1)
    out = Image.new("RGBA", img.size, colour + (0,))
    out.putalpha(Image.fromarray((alpha * 220).astype(np.uint8)))
    return out.rotate(rng.uniform(-25, 25), expand=True, resample=Image.BICUBIC)


# --- The page ---------------------------------------------------------------------------


def rotate_point(p, centre, degrees):
    """p turned clockwise (on screen, y down) by degrees about centre."""
    a = math.radians(degrees)
    x, y = p[0] - centre[0], p[1] - centre[1]
    return (centre[0] + x * math.cos(a) - y * math.sin(a), centre[1] + x * math.sin(a) + y * math.cos(a))


class Form:
    """Draws one upright page. Layout choices come from rng in millimetres, so that a sweep
    changing a scanning condition (or the dpi) redraws the same form."""

    def __init__(self, rng, cond, faces, n, out):
        self.rng, self.cond, self.faces, self.n, self.out = rng, cond, faces, n, out
        dpi = cond["dpi"]
        self.mm = Scale(dpi)
        self.W, self.H = self.mm(210), self.mm(297)
        self.truth = {"dpi": dpi, "width": self.W, "height": self.H}

    def ink_colour(self):
        return (self.rng.randint(15, 40), self.rng.randint(15, 40), self.rng.randint(15, 45))

    def pen_colour(self):
        return self.rng.choice([(25, 40, 130), (15, 20, 30), (35, 45, 160), (20, 30, 90)])

    def write(self, mask, xy, colour):
        self.img.paste(Image.new("RGB", mask.size, colour), (int(xy[0]), int(xy[1])), mask)

    def text(self, xy, s, size_mm, bold=False, colour=None):
        f = font(SANS_BOLD if bold else self.body_font, self.mm(size_mm))
        self.draw.text(xy, s, font=f, fill=colour or self.ink)
        return f.getlength(s)

    def paragraph(self, x, y, width, lines, size_mm):
        f = font(self.body_font, self.mm(size_mm))
        words = list(BODY)
        self.rng.shuffle(words)
        for _ in range(lines):
            line = ""
            while words and f.getlength(line + " " + words[0]) < width:
                line = (line + " " + words.pop(0)).strip()
            if not words:
                words = list(BODY)
            self.draw.text((x, y), line, font=f, fill=self.ink)
            y += self.mm(size_mm * 1.5)
        return y

    def draw_form(self):
        rng, mm = self.rng, self.mm
        W, H = self.W, self.H
        base = rng.randint(238, 250)
        self.paper = tuple(min(255, base + rng.randint(0, 4)) for _ in range(3))
        self.img = Image.new("RGB", (W, H), self.paper)
        self.draw = ImageDraw.Draw(self.img)
        self.ink = self.ink_colour()
        self.body_font = rng.choice([SANS, SERIF])
        left = mm(rng.uniform(14, 22))
        right = W - left
        self.surname, self.name = rng.choice(SURNAMES), rng.choice(NAMES)

        # Heading.
        y = mm(rng.uniform(10, 18))
        if rng.random() < 0.5:
            e = emblem(rng, mm(14), mm(14))
            self.img.paste(e, (left, y))
            hx = left + mm(18)
        else:
            hx = left
        self.text((hx, y), rng.choice(OFFICES) % rng.choice(CITIES), 4.2, bold=True)
        self.text((hx, y + mm(6.5)), "Ufficio relazioni con il pubblico - Sportello unico", 2.8)
        y += mm(20)
        title = rng.choice(TITLES)
        tf = font(SANS_BOLD, mm(3.6))
        while tf.getlength(title) > right - left:
            tf = font(SANS_BOLD, tf.size - 2)
        self.draw.text(((W - tf.getlength(title)) / 2, y), title, font=tf, fill=self.ink)
        y += mm(9)

        # Photograph's place.
        layout = rng.choice(["top_right", "top_left", "middle"])
        pw = mm(rng.uniform(32, 40))
        ph = int(pw * rng.uniform(1.25, 1.33))
        if layout == "top_right":
            px, py = right - pw - mm(4), y + mm(2)
        elif layout == "top_left":
            px, py = left + mm(4), y + mm(2)
        else:
            px, py = (W - pw) // 2, y + mm(rng.uniform(45, 70))
        self.layout = layout
        self.place_photo(px, py, pw, ph)

        # Fields beside (or above) the photograph.
        if layout == "top_right":
            fx0, fx1 = left, px - mm(10)
        elif layout == "top_left":
            fx0, fx1 = px + pw + mm(10), right
        else:
            fx0, fx1 = left, right
        fy = y + mm(8)
        fy = self.fields(fx0, fx1, fy, py if layout == "middle" else None)
        fy = max(fy, self.photo_bottom + mm(10))

        # Codice fiscale boxes and check boxes across the page.
        fy = self.cf_boxes(left, fy)
        fy = self.check_boxes(left, right, fy + mm(4))
        fy = self.paragraph(left, fy + mm(4), right - left, rng.randint(2, 5), rng.uniform(2.6, 3.2))

        # Place and date, the applicant's signature, the office's box.
        fy = self.signature_block(left, right, fy + mm(rng.uniform(6, 14)))
        self.office_box(left, right, fy + mm(rng.uniform(6, 12)))
        self.text((left, H - mm(10)), "Mod. %s/%d - rev. %02d" % (rng.choice("ABCDPR"), rng.randint(1, 99), rng.randint(1, 12)),
                  2.4, colour=(120, 120, 120))
        if rng.random() < 0.4:
            # Initials in the margin, as the operator asks for on each page.
            self.text((right - mm(30), H - mm(18)), "Sigla", 2.6)
            self.write(hand_text(rng, rng.choice(NAMES)[0] + rng.choice(SURNAMES)[0], mm(6)),
                       (right - mm(18), H - mm(22)), self.pen_colour())

    def place_photo(self, px, py, pw, ph):
        rng, mm, cond = self.rng, self.mm, self.cond
        kind = cond["picture"]
        t = self.truth
        t.update(photo=None, face=None, head=None, square=None, photo_quad=None, tilt=0.0,
                 picture=None, other_picture=False, picture_kind=kind, person=None)
        box_m = mm(rng.uniform(1.5, 4))
        boxed = rng.random() < 0.7 or kind == "empty_box"
        if boxed:
            self.draw.rectangle((px - box_m, py - box_m, px + pw + box_m, py + ph + box_m), outline=self.ink,
                                width=max(1, mm(0.3)))
            if kind in ("empty_box", "blank"):
                self.text((px + mm(3), py + ph / 2 - mm(6)), "Spazio per la", 2.6)
                self.text((px + mm(3), py + ph / 2 - mm(2)), "fotografia", 2.6)
        self.text((px, py + ph + box_m + mm(2)), rng.choice(["Fotografia", "Foto formato tessera", "FOTO"]), 2.6)
        self.photo_bottom = py + ph + box_m + mm(6)
        if kind == "face":
            pic, face, head, person = self.faces.photo(rng, pw, ph, cond["bg"], cond["plain"])
            t["photo_bg"] = cond["bg"] if cond["plain"] else None
            t["person"] = person
        elif kind == "qr":
            side = min(pw, ph)
            pic = qr_code(rng, side)
        elif kind == "emblem":
            pic = emblem(rng, pw, ph)
        elif kind == "picture":
            pic, name = other_picture(rng, pw, ph)
            t["picture_kind"] = "picture:" + name
        else:
            pic = None
        if pic is None:
            return
        tilt = cond["tilt"] if kind == "face" else 0.0
        rgba = pic.convert("RGBA")
        turned = rgba.rotate(-tilt, expand=True, resample=Image.BICUBIC)
        ox = px + pic.width / 2 - turned.width / 2
        oy = py + pic.height / 2 - turned.height / 2
        # A glued print casts a faint shadow on the paper to its lower right.
        if kind == "face" and rng.random() < 0.6:
            shadow = Image.new("RGB", turned.size, tuple(max(0, v - 40) for v in self.paper))
            alpha = turned.split()[3].filter(ImageFilter.GaussianBlur(max(1, mm(0.3)))).point(lambda v: v * 0.5)
            self.img.paste(shadow, (int(ox + mm(0.3)), int(oy + mm(0.3))), alpha)
        self.img.paste(turned.convert("RGB"), (int(round(ox)), int(round(oy))), turned.split()[3])
        centre = (px + pic.width / 2, py + pic.height / 2)
        corners = [rotate_point(c, centre, tilt) for c in
                   ((px, py), (px + pic.width, py), (px + pic.width, py + pic.height), (px, py + pic.height))]
        xs, ys = [c[0] for c in corners], [c[1] for c in corners]
        bbox = [min(xs), min(ys), max(xs), max(ys)]
        t["picture"] = [round(v, 1) for v in bbox]
        if kind != "face":
            t["other_picture"] = True
            return

        def on_page(b):
            pts = [rotate_point((px + x, py + y), centre, tilt) for x, y in
                   ((b[0], b[1]), (b[2], b[1]), (b[2], b[3]), (b[0], b[3]))]
            return [round(min(p[0] for p in pts), 1), round(min(p[1] for p in pts), 1),
                    round(max(p[0] for p in pts), 1), round(max(p[1] for p in pts), 1)]

        t["photo"] = [round(v, 1) for v in bbox]
        t["photo_quad"] = [[round(x, 1), round(y, 1)] for x, y in corners]
        t["tilt"] = tilt
        t["face"] = on_page(face)
        t["head"] = on_page(head)
        # A square photo holds crown to chin whenever the head is no taller than the photo is wide.
        t["square"] = {"crown": t["head"][1], "chin": t["head"][3], "fits": (head[3] - head[1]) <= pic.width * 0.98}
        if cond["stamp"] != "none":
            s = stamp(rng, cond["stamp"], mm(rng.uniform(24, 32)), rng.choice([(40, 60, 170), (150, 40, 120), (60, 60, 70)]))
            corner = rng.choice(corners)
            self.img.paste(s, (int(corner[0] - s.width / 2), int(corner[1] - s.height / 2)), s)
        t["stamp"] = cond["stamp"]

    def fields(self, x0, x1, y, stop_at):
        rng, mm = self.rng, self.mm
        labels = [("Cognome", self.surname), ("Nome", self.name),
                  ("Luogo e data di nascita", "%s %02d/%02d/19%02d" % (rng.choice(CITIES).capitalize(), rng.randint(1, 28),
                                                                       rng.randint(1, 12), rng.randint(40, 99))),
                  ("Residente a", rng.choice(CITIES).capitalize()),
                  ("Via / Piazza", "Via %s %d" % (rng.choice(["Roma", "Garibaldi", "Mazzini", "Dante", "Verdi"]), rng.randint(1, 120))),
                  ("Telefono", "3%02d %07d" % (rng.randint(20, 99), rng.randint(0, 9999999)))]
        count = rng.randint(4, 6)
        gap = mm(rng.uniform(10, 13))
        filled = rng.random() < 0.85
        capitals = rng.random() < 0.6
        for label, value in labels[:count]:
            if stop_at is not None and y + gap > stop_at - mm(4):
                break
            lw = self.text((x0, y), label, 3.0)
            lx = x0 + max(lw + mm(3), mm(38))
            ly = y + mm(4.5)
            self.draw.line((lx, ly, x1, ly), fill=(90, 90, 95), width=max(1, mm(0.2)))
            if filled:
                hand = hand_text(rng, value if capitals else value.title(), mm(rng.uniform(4, 6)), capitals)
                if hand.width > x1 - lx - mm(2):
                    hand = hand.resize((x1 - lx - mm(2), hand.height))
                self.write(hand, (lx + mm(rng.uniform(1, 5)), ly - hand.height + mm(rng.uniform(0.2, 1.2))), self.pen_colour())
            y += gap
        return y

    def cf_boxes(self, x, y):
        rng, mm = self.rng, self.mm
        self.text((x, y), "Codice fiscale", 3.0)
        bx = x + mm(38)
        side = mm(6)
        cf = codice_fiscale(rng, self.surname, self.name)
        written = rng.random() < 0.8
        pen = self.pen_colour()
        for i, ch in enumerate(cf):
            x0 = bx + i * side
            self.draw.rectangle((x0, y - mm(1), x0 + side, y - mm(1) + side), outline=self.ink, width=max(1, mm(0.2)))
            if written:
                g = hand_text(rng, ch, mm(4.2), capitals=True)
                self.write(g, (x0 + (side - g.width) / 2, y - mm(1) + (side - g.height) / 2), pen)
        return y + side + mm(4)

    def check_boxes(self, x0, x1, y):
        rng, mm = self.rng, self.mm
        options = rng.sample(["primo rilascio", "rinnovo", "duplicato", "conversione", "aggiornamento dati",
                              "trasporto merci", "trasporto persone"], 4)
        chosen = rng.randrange(len(options))
        step = (x1 - x0) // 2
        side = mm(4)
        for i, opt in enumerate(options):
            cx = x0 + (i % 2) * step
            cy = y + (i // 2) * mm(8)
            self.draw.rectangle((cx, cy, cx + side, cy + side), outline=self.ink, width=max(1, mm(0.25)))
            self.text((cx + side + mm(3), cy), opt, 3.0)
            if i == chosen or rng.random() < 0.15:
                t = tick(rng, mm(4.5))
                self.write(t, (cx - mm(0.5), cy - mm(1.5)), self.pen_colour())
        return y + mm(17)

    def signature_block(self, x0, x1, y):
        rng, mm, cond = self.rng, self.mm, self.cond
        t = self.truth
        t.update(signature=None, signature_mask=None, signature_label=None, signature_style=None)
        # Place and date, often with a handwritten date.
        f_w = self.text((x0, y + mm(8)), "Luogo e data", 3.0)
        self.draw.line((x0 + f_w + mm(2), y + mm(12), x0 + mm(75), y + mm(12)), fill=(90, 90, 95), width=max(1, mm(0.2)))
        if rng.random() < 0.8:
            date = "%s, %02d/%02d/20%02d" % (rng.choice(CITIES).title(), rng.randint(1, 28), rng.randint(1, 12), rng.randint(23, 26))
            g = hand_text(rng, date, mm(4.5))
            if g.width > mm(75) - f_w - mm(3):
                g = g.resize((int(mm(75) - f_w - mm(3)), g.height))
            self.write(g, (x0 + f_w + mm(3), y + mm(12) - g.height + mm(0.8)), self.pen_colour())
        label = rng.choice(APPLICANT_LABELS)
        style = rng.choice(["line", "line", "box", "none"])
        where = rng.choice(["above", "below", "beside"]) if style != "box" else rng.choice(["above", "inside"])
        t["signature_label"] = label
        t["signature_style"] = "%s/%s" % (style, where)
        sx0 = x0 + mm(rng.uniform(95, 110))
        sx1 = x1 - mm(rng.uniform(0, 8))
        top = y
        if where == "beside":
            lw = self.text((sx0 - mm(5), y + mm(12)), label, 3.0)
            sx0 = sx0 + lw
            sx0 = min(sx0, sx1 - mm(45))
        elif where == "above":
            self.text((sx0 + mm(5), y), label, 3.0)
            top = y + mm(6)
        line_y = top + mm(rng.uniform(14, 20))
        box = None
        if style == "line":
            self.draw.line((sx0, line_y, sx1, line_y), fill=(80, 80, 85), width=max(1, mm(0.25)))
        elif style == "box":
            box = (sx0, top, sx1, top + mm(rng.uniform(20, 28)))
            self.draw.rectangle(box, outline=self.ink, width=max(1, mm(0.3)))
            if where == "inside":
                self.text((sx0 + mm(2), top + mm(1.5)), label, 2.6)
            line_y = box[3] - mm(4)
        if where == "below":
            self.text((sx0 + mm(5), line_y + mm(2)), label, 3.0)
        elif rng.random() < 0.35 and style == "line":
            self.text((sx0 + mm(10), line_y + mm(2)), "(%s %s)" % (self.name.title(), self.surname.title()), 2.8)
        bottom = max(line_y + mm(10), (box[3] if box else 0) + mm(4))
        if not cond["signature"]:
            return bottom
        h = mm(rng.uniform(10, 17))
        w = int(min(h * rng.uniform(3.5, 6), sx1 - sx0 - mm(6)))
        ink = scribble(rng, h, w)
        if style == "box":
            sx = sx0 + mm(3) + rng.uniform(0, max(0, (sx1 - sx0 - mm(6)) - ink.width))
            sy = box[1] + (box[3] - box[1] - ink.height) / 2 + mm(2)
            sy = min(sy, box[3] - ink.height - mm(1))
        else:
            sx = sx0 + mm(2) + rng.uniform(0, max(0, (sx1 - sx0 - mm(4)) - ink.width))
            # On the line, crossing it, or just above it.
            cross = rng.random() < 0.5
            sy = line_y - ink.height * (rng.uniform(0.6, 0.85) if cross else 1.0) - (0 if cross else mm(rng.uniform(0.5, 2)))
        sx, sy = int(sx), int(sy)
        self.write(ink, (sx, sy), self.pen_colour())
        t["signature"] = [sx, sy, sx + ink.width, sy + ink.height]
        t["signature_mask"] = "sig_%03d.png" % self.n
        ink.point(lambda v: 255 if v > 100 else 0).save(os.path.join(self.out, t["signature_mask"]))
        if cond.get("sig_stamp"):
            self.stamp_beside(t["signature"])
        return bottom

    def stamp_beside(self, sig):
        """A round office stamp a few millimetres beside the signature, at its height, as a
        receiving office puts it. Drawn from a generator of its own, so that the page is
        otherwise the one drawn without it."""
        rng, mm = random.Random(self.seed * 31 + 5), self.mm
        s = stamp(rng, "round", mm(rng.uniform(22, 28)), rng.choice([(40, 60, 170), (150, 40, 120), (60, 60, 70)]))
        gap = mm(rng.uniform(2, 8))
        left = sig[0] - gap - s.width
        x = left if left > mm(8) and rng.random() < 0.5 else min(sig[2] + gap, self.W - mm(5) - s.width)
        if x < sig[2] and x + s.width > sig[0]:
            x = max(mm(5), left)
        y = (sig[1] + sig[3]) // 2 - s.height // 2 + mm(rng.uniform(-4, 4))
        self.img.paste(s, (int(x), int(y)), s)
        self.truth["signature_stamp"] = [int(x), int(y), int(x) + s.width, int(y) + s.height]

    def office_box(self, x0, x1, y):
        rng, mm = self.rng, self.mm
        t = self.truth
        t["office_box"] = None
        t["office_signature"] = None
        bh = mm(rng.uniform(28, 38))
        if y + bh > self.H - mm(16):
            return
        self.draw.rectangle((x0, y, x1, y + bh), outline=self.ink, width=max(1, mm(0.35)))
        self.text((x0 + mm(3), y + mm(2)), "SPAZIO RISERVATO ALL'UFFICIO", 2.8, bold=True)
        self.text((x0 + mm(3), y + mm(8)), "Pratica n. ______  Protocollo ______", 2.6)
        label = rng.choice(OFFICE_LABELS)
        lx = x0 + (x1 - x0) * 0.55
        self.text((lx, y + mm(8)), label, 2.6)
        t["office_box"] = [x0, y, x1, y + bh]
        t["office_label"] = label
        if rng.random() < 0.55:
            s = stamp(rng, rng.choice(["round", "rect"]), mm(rng.uniform(20, 26)), rng.choice([(40, 60, 170), (150, 40, 120)]))
            self.img.paste(s, (int(x0 + mm(rng.uniform(5, 50))), int(y + bh - s.height - mm(1))), s)
            t["office_stamp"] = True
        if rng.random() < 0.6:
            h = mm(rng.uniform(7, 11))
            ink = scribble(rng, h, int(h * rng.uniform(3, 4.5)))
            ox, oy = int(lx + mm(5)), int(y + mm(13))
            if oy + ink.height < y + bh and ox + ink.width < x1:
                self.write(ink, (ox, oy), self.pen_colour())
                t["office_signature"] = [ox, oy, ox + ink.width, oy + ink.height]


def blank_back(rng, cond, n):
    """The back of a form: nearly blank, some print showing through, maybe a page number."""
    mm = Scale(cond["dpi"])
    W, H = mm(210), mm(297)
    img = Image.new("RGB", (W, H), tuple(rng.randint(240, 252) for _ in range(3)))
    d = ImageDraw.Draw(img)
    f = font(SANS, mm(3))
    for i in range(rng.randint(10, 30)):
        y = mm(30) + i * mm(6)
        d.text((mm(20), y), " ".join(rng.choice(BODY) for _ in range(12))[::-1], font=f, fill=(226, 226, 228))
    d.text((W / 2, H - mm(12)), "- 2 -", font=f, fill=(80, 80, 80))
    return img, {"dpi": cond["dpi"], "width": W, "height": H, "layout": "back", "photo": None, "face": None,
                 "head": None, "square": None, "photo_quad": None, "tilt": 0.0, "picture": None,
                 "other_picture": False, "picture_kind": "blank_back", "signature": None, "signature_mask": None,
                 "signature_label": None, "signature_style": None, "office_box": None, "office_signature": None,
                 "person": None}


# --- Scanning ---------------------------------------------------------------------------


def halftone(img, dpi, rng):
    """A printed copy: each colour a screen of dots at its own angle, about 85 cells an inch."""
    cell = max(3, int(dpi / 85))
    arr = np.asarray(img, dtype=np.float32) / 255
    h, w, _ = arr.shape
    xs = np.arange(w, dtype=np.float32)
    ys = np.arange(h, dtype=np.float32)[:, None]
    out = np.empty(arr.shape, np.uint8)
    for c, angle in enumerate((15, 75, 45)):
        a = math.radians(angle)
        k = 2 * math.pi / cell
        # cos(k(x cos a + y sin a)) and cos(k(y cos a - x sin a)), each split into x and y terms
        # so that the page-sized work is a few products instead of trigonometry on every pixel.
        cu = np.cos(k * math.cos(a) * xs) * np.cos(k * math.sin(a) * ys) - np.sin(k * math.cos(a) * xs) * np.sin(k * math.sin(a) * ys)
        cv = np.cos(k * math.sin(a) * xs) * np.cos(k * math.cos(a) * ys) + np.sin(k * math.sin(a) * xs) * np.sin(k * math.cos(a) * ys)
        screen = cu * cv
        screen *= 0.45
        screen += 0.5
        out[..., c] = np.where(arr[..., c] > screen, 255, 0)
    return Image.fromarray(out).filter(ImageFilter.GaussianBlur(cell * 0.35))


def add_noise(img, sigma, seed):
    """Gaussian scanner noise, the same on every channel: a 509 x 509 tile drawn from the
    page's seed and repeated over the page (numpy on the whole page took seconds a page)."""
    tile = np.random.default_rng(seed).normal(128, sigma, (509, 509))
    tile = Image.fromarray(np.clip(tile, 0, 255).astype(np.uint8))
    noise = Image.new("L", img.size)
    for y in range(0, img.height, 509):
        for x in range(0, img.width, 509):
            noise.paste(tile, (x, y))
    if img.mode == "RGB":
        noise = Image.merge("RGB", (noise,) * 3)
    return ImageChops.add(img, noise, 1.0, -128)


def photocopy(img, rng):
    """A grey photocopy: grey, harder contrast, a greyish page and toner specks."""
    lo, hi = rng.uniform(30, 60), rng.uniform(200, 230)
    gamma, dim, lift = rng.uniform(0.8, 1.3), rng.uniform(0.86, 0.95), rng.uniform(0, 10)
    lut = [int(max(0, min(255, (max(0.0, min(1.0, (v - lo) / (hi - lo))) ** gamma) * 255 * dim + lift))) for v in range(256)]
    g = add_noise(img.convert("L").point(lut), 4, rng.randrange(1 << 30))
    arr = np.array(g)
    nrng = np.random.default_rng(rng.randrange(1 << 30))
    count = int(arr.size * 0.0006)
    arr[nrng.integers(0, arr.shape[0], count), nrng.integers(0, arr.shape[1], count)] = int(rng.uniform(30, 90))
    return Image.fromarray(arr).filter(ImageFilter.GaussianBlur(0.6))


def scan(img, cond, rng, n):
    """The scanner's view: print process, skew on the bed, lid border, noise."""
    dpi = cond["dpi"]
    if cond["print"] == "halftone":
        img = halftone(img, dpi, rng)
    elif cond["print"] == "photocopy":
        img = photocopy(img, rng)
    bed = 250 if img.mode == "L" else (250, 250, 250)
    if cond["skew"]:
        img = img.rotate(-cond["skew"], resample=Image.BILINEAR, fillcolor=bed)
    if cond["lid"]:
        # The lid's dark lining shows along one or two edges beyond the paper.
        mm = Scale(dpi)
        d = ImageDraw.Draw(img)
        W, H = img.size
        for e in rng.sample(["top", "bottom", "left", "right"], rng.randint(1, 2)):
            wpx = mm(rng.uniform(2, 9))
            dark = int(rng.uniform(15, 60))
            box = {"top": (0, 0, W, wpx), "bottom": (0, H - wpx, W, H), "left": (0, 0, wpx, H), "right": (W - wpx, 0, W, H)}[e]
            d.rectangle(box, fill=dark if img.mode == "L" else (dark,) * 3)
    if cond["noisy"] or cond["lid"]:
        img = add_noise(img, rng.uniform(3, 8), n)
    return img


def draw_conditions(rng):
    """One page's scanning conditions, drawn at random (a mixed set)."""
    picture = rng.choices(["face", "qr", "emblem", "picture", "empty_box", "blank"], [62, 6, 6, 8, 10, 8])[0]
    fmt = rng.choices(["jpg", "bmp", "gif"], [7, 2, 1])[0]
    dpi = rng.choices([200, 300, 600], [2, 6, 2])[0]
    if dpi == 600:
        fmt = "jpg"
    return {
        "picture": picture,
        "bg": rng.choice([rng.randint(110, 245), rng.randint(225, 245)]),
        "plain": rng.random() < 0.75,
        "tilt": round(rng.choice([0.0, rng.uniform(-2, 2)]), 2),
        "skew": round(rng.choice([0.0, rng.uniform(-3, 3), rng.uniform(-1, 1)]), 2),
        "turn": rng.choice([0, 0, 0, 90, 180, 270]),
        "print": rng.choices(["colour", "halftone", "photocopy"], [6, 2, 2])[0],
        "stamp": rng.choices(["none", "round", "rect"], [6, 2, 2])[0],
        "lid": rng.random() < 0.2,
        "dpi": dpi,
        "quality": rng.randint(50, 90),
        "format": fmt,
        "signature": rng.random() < 0.72,
        "noisy": rng.random() < 0.5,
        "back": picture == "blank" and rng.random() < 0.5,
        # Only a sweep puts a stamp beside the signature (the mixed sets were drawn without).
        "sig_stamp": False,
    }


def make_page(out, n, page_seed, cond, faces, condition_label):
    rng = random.Random(page_seed)
    if cond["back"]:
        img, truth = blank_back(rng, cond, n)
        truth["layout"] = "back"
    else:
        form = Form(rng, cond, faces, n, out)
        form.seed = page_seed
        form.draw_form()
        img, truth = form.img, form.truth
        truth["layout"] = form.layout
    truth.setdefault("stamp", "none")
    scan_rng = random.Random(page_seed * 7 + 1)
    stored = scan(img, cond, scan_rng, n)
    turn = cond["turn"]
    if turn:
        # Stored turned anticlockwise, so that a clockwise turn of `turn` makes it upright.
        stored = stored.transpose({90: Image.ROTATE_90, 180: Image.ROTATE_180, 270: Image.ROTATE_270}[turn])
    fmt = cond["format"]
    name = "page_%03d.%s" % (n, fmt)
    path = os.path.join(out, name)
    if fmt == "jpg":
        stored.save(path, quality=cond["quality"], dpi=(cond["dpi"],) * 2)
    elif fmt == "bmp":
        stored.save(path)
    else:
        (stored if stored.mode == "L" else stored.convert("RGB").quantize(256, method=Image.MEDIANCUT)).save(path)
    truth.update({
        "file": name, "turn": turn, "skew": cond["skew"], "format": fmt, "quality": cond["quality"] if fmt == "jpg" else None,
        "grey": stored.mode == "L", "noisy": cond["noisy"], "print": cond["print"], "lid": cond["lid"],
        "photo_bg": truth.get("photo_bg"), "condition": condition_label, "seed": page_seed,
    })
    return truth


def main():
    p = argparse.ArgumentParser()
    p.add_argument("outdir")
    p.add_argument("--count", type=int, default=90)
    p.add_argument("--seed", type=int, default=1)
    p.add_argument("--sweep", choices=sorted(SWEEPS))
    p.add_argument("--faces", default=os.environ.get("VETRA_FACES", os.path.expanduser("~/.cache/vetra-faces")))
    a = p.parse_args()
    os.makedirs(a.outdir, exist_ok=True)
    faces = Faces(a.faces)
    rng = random.Random(a.seed)
    n = 0
    with open(os.path.join(a.outdir, "truth.jsonl"), "w") as truth:
        for i in range(a.count):
            page_seed = rng.randrange(1 << 30)
            cond = draw_conditions(random.Random(page_seed))
            if not a.sweep:
                truth.write(json.dumps(make_page(a.outdir, n, page_seed, cond, faces, "mixed")) + "\n")
                n += 1
                continue
            # A sweep: a page with a photograph and a signature, clean otherwise, then each value.
            cond.update(picture="face", back=False, signature=True, tilt=0.0, skew=0.0, print="colour",
                        stamp="none", lid=False, dpi=300, format="jpg", quality=85, noisy=False)
            if a.sweep != "bg":
                cond["bg"] = min(cond["bg"], 220)
            else:
                cond["plain"] = True
            for value in SWEEPS[a.sweep]:
                c = dict(cond)
                c[a.sweep] = value
                if a.sweep == "format" and value != "jpg":
                    c["quality"] = None
                truth.write(json.dumps(make_page(a.outdir, n, page_seed, c, faces, "%s=%s" % (a.sweep, value))) + "\n")
                n += 1
    print("%d pages in %s" % (n, a.outdir))


if __name__ == "__main__":
    main()

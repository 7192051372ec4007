#!/usr/bin/python3
"""Measures vetra-batch --auto on a page set made by make_forms.py, per condition and overall.

Usage: bench/locator/measure_forms.py VETRA_BATCH PAGEDIR [PAGEDIR...] [--jobs N] [--failures]
       bench/locator/measure_forms.py - PAGEDIR [PAGEDIR...] --check-truth

Every page is run three times (--kind foto, adr and firma, each with --auto). An answer's
rectangle is in pixels of the page turned by its turn= and then straightened by its
straighten= (0 when the program prints none); the truth is carried there through the page's
skew and that angle, both about the page's centre. What counts:

- photo framed: the right turn, the foto frame inside the photograph (its tilted corners,
  0.2 mm of slack), the face box wholly inside the frame, and crown to chin inside it too
  (the head box's top and bottom at their middle, 4 % of the head's height of slack, as the
  crowns were read by eye);
- square photo framed: the same for adr, except that crown to chin is required only where the
  head is no taller than the photograph is wide, and the square's side is at least 85 % of
  the photograph's width (the largest square is wanted, not a face-sized one);
- level: the saved photograph within 0.5 degree of upright (glued tilt + page skew +
  straighten), on the photographs framed;
- frames on pages without a photograph: foto answers that are not "not found" (exit 7);
- wrong turns: answers of any kind whose turn is not the page's;
- signature framed: the right turn, at least 97 % of the ink inside the frame, and the frame
  not mostly on print: no more dark pixels (grey < 140) in it besides the signature's ink
  than that ink has;
- frames on pages without a signature, and frames whose centre lies in the office's box;
- text turn: on turned pages without a photograph but with a signature, firma answers with
  the right turn, out of all such pages (an unanswered page has its turn untold; a page
  with neither subject has no answer that could tell it).
"""
import argparse
import collections
import json
import math
import os
import sys
import tempfile
from concurrent.futures import ThreadPoolExecutor

import numpy as np
from PIL import Image

from measure import run  # one vetra-batch call: exit code, stdout, stderr


def parse(out):
    fields = dict(part.split("=", 1) for part in out.split() if "=" in part)
    rect = [int(v) for v in fields["rect"].split(",")] if "rect" in fields else None
    return int(fields.get("turn", 0)), rect, float(fields.get("straighten", 0.0))


def rotate(points, centre, degrees):
    """Points turned clockwise on the page (y down) by degrees about centre."""
    a = math.radians(degrees)
    c, s = math.cos(a), math.sin(a)
    return [(centre[0] + (x - centre[0]) * c - (y - centre[1]) * s,
             centre[1] + (x - centre[0]) * s + (y - centre[1]) * c) for x, y in points]


def corners(box):
    return [(box[0], box[1]), (box[2], box[1]), (box[2], box[3]), (box[0], box[3])]


def inside_quad(point, quad, slack):
    """point inside the convex quad (clockwise on screen), allowing slack pixels outside."""
    for i in range(4):
        (x0, y0), (x1, y1) = quad[i], quad[(i + 1) % 4]
        ex, ey = x1 - x0, y1 - y0
        cross = ex * (point[1] - y0) - ey * (point[0] - x0)
        if cross < -slack * math.hypot(ex, ey):
            return False
    return True


def rect_corners(rect):
    x, y, w, h = rect
    return [(x, y), (x + w, y), (x + w, y + h), (x, y + h)]


def holds(rect, points, slack=0.0):
    x, y, w, h = rect
    return all(x - slack <= px <= x + w + slack and y - slack <= py <= y + h + slack for px, py in points)


class Page:
    def __init__(self, truth, folder):
        self.t, self.folder = truth, folder
        self.centre = (truth["width"] / 2, truth["height"] / 2)
        self.mm = truth["dpi"] / 25.4

    def to_answer(self, points, straighten):
        return rotate(points, self.centre, self.t["skew"] + straighten)

    def photo_ok(self, rect, straighten, square):
        t = self.t
        quad = self.to_answer(t["photo_quad"], straighten)
        if not all(inside_quad(p, quad, 0.2 * self.mm) for p in rect_corners(rect)):
            return False, "frame outside the photograph"
        if not holds(rect, self.to_answer(corners(t["face"]), straighten)):
            return False, "face cut"
        head = t["head"]
        mid = (head[0] + head[2]) / 2
        crown, chin = self.to_answer([(mid, head[1]), (mid, head[3])], straighten)
        slack = 0.04 * (head[3] - head[1])
        need_head = not square or t["square"]["fits"]
        if need_head and (rect[1] > crown[1] + slack or rect[1] + rect[3] < chin[1] - slack):
            return False, "crown or chin cut"
        if square:
            width = math.dist(t["photo_quad"][0], t["photo_quad"][1])
            if rect[2] < 0.85 * width:
                return False, "square %.0f %% of the photograph's width" % (100 * rect[2] / width)
        return True, ""

    def level(self, straighten):
        return abs(self.t["tilt"] + self.t["skew"] + straighten) <= 0.5

    def ink_share(self, rect, straighten):
        t = self.t
        mask = np.asarray(Image.open(os.path.join(self.folder, t["signature_mask"]))) > 0
        ys, xs = np.nonzero(mask)
        xs = xs + t["signature"][0] + 0.5
        ys = ys + t["signature"][1] + 0.5
        a = math.radians(t["skew"] + straighten)
        cx, cy = self.centre
        rx = cx + (xs - cx) * math.cos(a) - (ys - cy) * math.sin(a)
        ry = cy + (xs - cx) * math.sin(a) + (ys - cy) * math.cos(a)
        x, y, w, h = rect
        held = (rx >= x) & (rx < x + w) & (ry >= y) & (ry < y + h)
        return (float(held.mean()) if len(xs) else 0.0), int(held.sum())

    def other_ink(self, rect, straighten):
        """Dark pixels inside the frame on the scanned page, the signature's included."""
        t = self.t
        if not hasattr(self, "grey"):
            img = Image.open(os.path.join(self.folder, t["file"])).convert("L")
            if t["turn"]:
                img = img.transpose({90: Image.ROTATE_270, 180: Image.ROTATE_180, 270: Image.ROTATE_90}[t["turn"]])
            self.grey = img
        img = self.grey
        quad = rotate(rect_corners(rect), self.centre, -straighten)
        x0 = max(0, int(min(q[0] for q in quad)))
        y0 = max(0, int(min(q[1] for q in quad)))
        x1 = min(img.width, int(math.ceil(max(q[0] for q in quad))))
        y1 = min(img.height, int(math.ceil(max(q[1] for q in quad))))
        if x1 <= x0 or y1 <= y0:
            return 0
        dark = np.asarray(img.crop((x0, y0, x1, y1))) < 140
        ys, xs = np.mgrid[y0:y1, x0:x1]
        inside = np.ones(dark.shape, bool)
        for i in range(4):
            (ax, ay), (bx, by) = quad[i], quad[(i + 1) % 4]
            inside &= (bx - ax) * (ys + 0.5 - ay) - (by - ay) * (xs + 0.5 - ax) >= 0
        return int((dark & inside).sum())

    def in_office_box(self, rect, straighten):
        box = self.t.get("office_box")
        if not box:
            return False
        centre = (rect[0] + rect[2] / 2, rect[1] + rect[3] / 2)
        return inside_quad(centre, self.to_answer(corners(box), straighten), 0)


def bands(t):
    """The condition labels a page of a mixed set is counted under."""
    out = ["all"]
    if t["condition"] != "mixed":
        return out + [t["condition"]]
    if t.get("photo_bg") is not None:
        bg = t["photo_bg"]
        out.append("bg " + ("110-180" if bg <= 180 else "181-225" if bg <= 225 else "226-245"))
    skew = abs(t["skew"])
    out.append("skew " + ("0" if skew == 0 else "<1" if skew < 1 else "1-2" if skew < 2 else "2-3"))
    if t["photo"]:
        tilt = abs(t["tilt"])
        out.append("tilt " + ("0" if tilt == 0 else "<=1" if tilt <= 1 else "1-2"))
        out.append("stamp " + t.get("stamp", "none"))
    out += ["print " + t["print"], "dpi %d" % t["dpi"], "format " + t["format"], "turn %d" % t["turn"]]
    if t["lid"]:
        out.append("lid border")
    if t["format"] == "jpg":
        out.append("jpeg q" + ("50-69" if t["quality"] < 70 else "70-90"))
    return out


def measure(batch, folder, t, scratch):
    page = Page(t, folder)
    path = os.path.join(folder, t["file"])
    r = {"file": os.path.join(os.path.basename(folder), t["file"]), "bands": bands(t), "notes": []}
    answers = {}
    for kind in ("foto", "adr", "firma"):
        code, out, err = run(batch, ["--kind", kind, "--auto", path, os.path.join(scratch, "%s_%s_%s.jpg" % (kind, os.path.basename(folder), os.path.splitext(t["file"])[0]))])
        answers[kind] = (code, parse(out) if code == 0 else None, out or err)
    r["wrong_turns"] = sum(1 for k, (code, a, _) in answers.items() if a and a[0] != t["turn"])
    for kind, key in (("foto", "photo"), ("adr", "square")):
        code, a, text = answers[kind]
        if t["photo"]:
            ok, why = False, "not found (%d)" % code
            if a:
                turn, rect, straighten = a
                ok, why = (page.photo_ok(rect, straighten, kind == "adr") if turn == t["turn"]
                           else (False, "turn %d" % turn))
                if ok and kind == "foto":
                    r["level"] = page.level(straighten)
                    if not r["level"]:
                        r["notes"].append("not level: tilt %.2f skew %.2f straighten %.2f" % (t["tilt"], t["skew"], straighten))
            r[key] = ok
            if not ok:
                r["notes"].append("%s: %s (%s)" % (kind, why, text))
        elif kind == "foto":
            r["photo_frame_without"] = code != 7
            if code != 7:
                r["notes"].append("foto frame on a page without photograph (%s): %s" % (t["picture_kind"], text))
    code, a, text = answers["firma"]
    if t["signature"]:
        ok, why = False, "not found (%d)" % code
        if a:
            turn, rect, straighten = a
            if turn != t["turn"]:
                why = "turn %d" % turn
            else:
                share, held = page.ink_share(rect, straighten)
                other = max(0, page.other_ink(rect, straighten) - held)
                ok = share >= 0.97 and other <= held
                why = "ink %.3f, other ink %.1f x the signature's" % (share, other / max(1, held))
        r["signature"] = ok
        if not ok:
            r["notes"].append("firma: %s (%s) truth %s %s" % (why, text, t["signature"], t["signature_style"]))
    else:
        r["signature_frame_without"] = code == 0
        if code == 0:
            r["notes"].append("firma frame on a page without signature: %s" % text)
    if t.get("office_box"):
        r["office"] = bool(a) and a[0] == t["turn"] and page.in_office_box(a[1], a[2])
        if r["office"]:
            r["notes"].append("firma frame on the office's box")
    if t["turn"] and not t["photo"] and t["signature"]:
        r["text_turn"] = bool(a) and a[0] == t["turn"]
    return r


def reachable(t, folder, square):
    """Whether some frame passes photo_ok at all: the page straightened by its own skew and
    tilt, frames of the kind's proportion from the largest down, centred on the face and
    moved down the photograph. A page where none passes would make the goal unreachable."""
    page = Page(t, folder)
    level = -(t["skew"] + t["tilt"])
    quad = page.to_answer(t["photo_quad"], level)
    x0, x1 = max(quad[0][0], quad[3][0]), min(quad[1][0], quad[2][0])
    y0, y1 = max(quad[0][1], quad[1][1]), min(quad[2][1], quad[3][1])
    face = page.to_answer(corners(t["face"]), level)
    centre = (min(q[0] for q in face) + max(q[0] for q in face)) / 2
    ratio = 1.0 if square else 1.2
    w = min(x1 - x0, (y1 - y0) / ratio)
    while w > 20:
        h = w * ratio
        x = min(max(centre - w / 2, x0), x1 - w)
        for k in range(21):
            rect = [math.ceil(x), math.ceil(y0 + k * (y1 - y0 - h) / 20), int(w), int(h)]
            if page.photo_ok(rect, level, square)[0]:
                return True
        w *= 0.97
    return False


def signature_reachable(t, folder):
    """Whether some firma frame (375 x 72) holds 97 % of the ink without being mostly print,
    on the page straightened by its skew: the smallest frames first, slid along and across
    the signature."""
    page = Page(t, folder)
    level = -t["skew"]
    box = page.to_answer(corners(t["signature"]), level)
    sx0, sx1 = min(q[0] for q in box), max(q[0] for q in box)
    sy0, sy1 = min(q[1] for q in box), max(q[1] for q in box)
    h = max(sy1 - sy0, (sx1 - sx0) * 72 / 375) * 0.9
    for _ in range(8):
        w = h * 375 / 72
        for i in range(9):
            x = sx0 - (w - (sx1 - sx0)) * i / 8 if w > sx1 - sx0 else sx0 + (sx1 - sx0 - w) * i / 8
            for j in range(5):
                y = sy0 - (h - (sy1 - sy0)) * j / 4 if h > sy1 - sy0 else sy0 + (sy1 - sy0 - h) * j / 4
                rect = [int(x), int(y), int(w) + 1, int(h) + 1]
                share, held = page.ink_share(rect, level)
                if share >= 0.97 and page.other_ink(rect, level) - held <= held:
                    return True
        h *= 1.08
    return False


def check_truth(folders):
    counts = collections.Counter()
    for folder in folders:
        for line in open(os.path.join(folder, "truth.jsonl")):
            t = json.loads(line)
            if t["signature"]:
                ok = signature_reachable(t, folder)
                counts["firma", ok] += 1
                if not ok:
                    print("%s/%s: no firma frame can pass" % (os.path.basename(folder), t["file"]))
            if not t["photo"]:
                continue
            for kind, square in (("foto", False), ("adr", True)):
                ok = reachable(t, folder, square)
                counts[kind, ok] += 1
                if not ok:
                    print("%s/%s: no %s frame can pass" % (os.path.basename(folder), t["file"], kind))
    for kind, what in (("foto", "photographs"), ("adr", "photographs"), ("firma", "signatures")):
        print("%s: a passing frame exists on %d of %d %s" % (
            kind, counts[kind, True], counts[kind, True] + counts[kind, False], what))
    return 0 if not any(counts[kind, False] for kind in ("foto", "adr", "firma")) else 1


MEASURES = [
    ("photo", "photo (foto) framed", "with a photograph"),
    ("square", "square photo (adr) framed", "with a photograph"),
    ("level", "level within 0.5 degree", "photographs framed"),
    ("photo_frame_without", "foto frames on pages without a photograph (want 0)", "without a photograph"),
    ("signature", "signature framed", "with a signature"),
    ("signature_frame_without", "firma frames on pages without a signature (want 0)", "without a signature"),
    ("office", "firma frames on the office's box (want 0)", "with an office box"),
    ("text_turn", "text turn told", "turned, with a signature, without a photograph"),
]


def main():
    p = argparse.ArgumentParser()
    p.add_argument("batch")
    p.add_argument("pages", nargs="+")
    p.add_argument("--jobs", type=int, default=1)
    p.add_argument("--failures", action="store_true", help="list each page's misses")
    p.add_argument("--check-truth", action="store_true",
                   help="run nothing: say whether a frame passing the rules exists on every photograph and signature")
    o = p.parse_args()
    if o.check_truth:
        return check_truth(o.pages)
    scratch = tempfile.mkdtemp()
    work = []
    for folder in o.pages:
        for line in open(os.path.join(folder, "truth.jsonl")):
            work.append((folder, json.loads(line)))
    with ThreadPoolExecutor(o.jobs) as pool:
        results = list(pool.map(lambda w: measure(o.batch, w[0], w[1], scratch), work))

    tally = collections.defaultdict(lambda: collections.defaultdict(lambda: [0, 0]))
    wrong_turns = collections.Counter()
    for r in results:
        for band in r["bands"]:
            for key, _, _ in MEASURES:
                if key in r:
                    tally[band][key][0] += bool(r[key])
                    tally[band][key][1] += 1
            wrong_turns[band] += r["wrong_turns"]

    def cell(band, key):
        ok, n = tally[band][key]
        return "%d/%d" % (ok, n) if n else "-"

    print("%d pages from %s\n" % (len(results), ", ".join(os.path.basename(f.rstrip("/")) for f in o.pages)))
    print("| Measure | Pages | Result |")
    print("|---|---|---|")
    for key, name, pages in MEASURES:
        ok, n = tally["all"][key]
        print("| %s | %s | %s |" % (name, pages, "%d/%d (%.0f %%)" % (ok, n, 100.0 * ok / n) if n else "-"))
    print("| wrong turns (want 0) | all answers | %d |" % wrong_turns["all"])
    print("\n| Condition | photo | square | level | signature | foto frames without photo | firma frames without signature | wrong turns |")
    print("|---|---|---|---|---|---|---|---|")
    for band in sorted(b for b in tally if b != "all"):
        print("| %s | %s | %s | %s | %s | %s | %s | %d |" % (
            band, cell(band, "photo"), cell(band, "square"), cell(band, "level"), cell(band, "signature"),
            cell(band, "photo_frame_without"), cell(band, "signature_frame_without"), wrong_turns[band]))
    if o.failures:
        print("\nMisses:")
        for r in results:
            for n in r["notes"]:
                print("  %s %s" % (r["file"], n))
    return 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/python3
"""Measures vetra-batch --auto on a page set made by make_pages.py.

Usage: bench/locator/measure.py VETRA_BATCH PAGEDIR [--timing N] [--timing-kinds foto,firma]

For every page it runs `vetra-batch --kind foto --auto` and `--kind firma --auto` and checks
the answers against truth.jsonl:
- photo: found on a page with a photograph, with the right turn, the crop rectangle inside
  the photograph and the face wholly inside it; not found on any other page;
- signature: the crop rectangle holds at least 97 % of the signature's ink; not found on a
  page without one;
- turn: right on every sideways (or upside-down) page with a photograph.
With --timing N it also times, for each kind of --timing-kinds, the first N pages that --auto
frames (each five times, the median kept; wall and processor time) with --auto against the
same job with --rect (the rectangle --auto chose, turned and straightened by hand): foto on
pages with a photograph, firma on pages with a signature.
"""
import argparse
import json
import os
import resource
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np
from PIL import Image


def run(batch, args):
    p = subprocess.run([batch] + args, capture_output=True, text=True)
    return p.returncode, p.stdout.strip(), p.stderr.strip()


def parse(out):
    fields = dict(part.split("=", 1) for part in out.split() if "=" in part)
    rect = [int(v) for v in fields["rect"].split(",")] if "rect" in fields else None
    return int(fields.get("turn", 0)), rect


def inside(inner, outer):
    """inner (x, y, w, h) inside outer (x0, y0, x1, y1)."""
    x, y, w, h = inner
    return x >= outer[0] - 0.5 and y >= outer[1] - 0.5 and x + w <= outer[2] + 0.5 and y + h <= outer[3] + 0.5


def holds(rect, outer):
    """The box outer (x0, y0, x1, y1) wholly inside rect (x, y, w, h)."""
    x, y, w, h = rect
    return outer[0] >= x and outer[1] >= y and outer[2] <= x + w and outer[3] <= y + h


def ink_share(rect, truth, folder):
    mask = np.asarray(Image.open(os.path.join(folder, truth["signature_mask"]))) > 0
    ys, xs = np.nonzero(mask)
    xs = xs + truth["signature"][0]
    ys = ys + truth["signature"][1]
    x, y, w, h = rect
    held = (xs >= x) & (xs < x + w) & (ys >= y) & (ys < y + h)
    return float(held.mean()) if len(xs) else 0.0


def main():
    a = argparse.ArgumentParser()
    a.add_argument("batch")
    a.add_argument("pages")
    a.add_argument("--timing", type=int, default=0)
    a.add_argument("--timing-only", action="store_true", help="skip the accuracy part")
    a.add_argument("--timing-kinds", default="foto,firma", help="kinds timed, comma-separated")
    o = a.parse_args()
    truths = [json.loads(line) for line in open(os.path.join(o.pages, "truth.jsonl"))]
    out = tempfile.mkdtemp()
    tally = {k: [0, 0] for k in ("photo", "no_photo", "signature", "no_signature", "turn")}
    failures = []
    for t in ([] if o.timing_only else truths):
        path = os.path.join(o.pages, t["file"])
        code, stdout, stderr = run(o.batch, ["--kind", "foto", "--auto", path, os.path.join(out, "f.jpg")])
        if t["photo"]:
            ok = False
            if code == 0:
                turn, rect = parse(stdout)
                ok = turn == t["turn"] and inside(rect, t["photo"]) and holds(rect, t["face"])
                if t["turn"]:
                    tally["turn"][1] += 1
                    tally["turn"][0] += turn == t["turn"]
            elif t["turn"]:
                tally["turn"][1] += 1
            tally["photo"][1] += 1
            tally["photo"][0] += ok
            if not ok:
                failures.append("%s photo: %s %s truth turn=%d photo=%s face=%s" % (
                    t["file"], code, stdout or stderr, t["turn"], t["photo"], [round(v) for v in t["face"]]))
        else:
            tally["no_photo"][1] += 1
            tally["no_photo"][0] += code == 7
            if code != 7:
                failures.append("%s no photo%s: %s %s" % (
                    t["file"], " (picture without face)" if t["other_picture"] else "", code, stdout))
        code, stdout, stderr = run(o.batch, ["--kind", "firma", "--auto", path, os.path.join(out, "s.jpg")])
        if t["signature"]:
            share = 0.0
            if code == 0:
                turn, rect = parse(stdout)
                share = ink_share(rect, t, o.pages) if turn == t["turn"] else 0.0
            tally["signature"][1] += 1
            tally["signature"][0] += share >= 0.97
            if share < 0.97:
                failures.append("%s signature: ink %.3f, %s %s truth turn=%d sig=%s" % (
                    t["file"], share, code, stdout or stderr, t["turn"], t["signature"]))
        else:
            tally["no_signature"][1] += 1
            tally["no_signature"][0] += code == 7
            if code != 7:
                failures.append("%s no signature: %s %s" % (t["file"], code, stdout))

    if not o.timing_only:
        report(tally, failures)
    if o.timing:
        for kind in o.timing_kinds.split(","):
            timing(o, truths, out, kind)
    return 0


def report(tally, failures):
    def pct(k):
        ok, n = tally[k]
        return "%d/%d (%.1f %%)" % (ok, n, 100.0 * ok / n) if n else "-"

    print("| Measure | Pages | Result |")
    print("|---|---|---|")
    print("| photo found and framed (frame inside the photograph, face inside the frame) | with a photograph | %s |" % pct("photo"))
    print("| signature frame holding >= 97 %% of the ink | with a signature | %s |" % pct("signature"))
    print("| right turn | turned, with a photograph | %s |" % pct("turn"))
    print("| no photo frame | without a photograph | %s |" % pct("no_photo"))
    print("| no signature frame | without a signature | %s |" % pct("no_signature"))
    if failures:
        print("\nFailures:")
        for f in failures:
            print("  " + f)



def children_cpu():
    """Processor time of the finished children, all their threads, to the microsecond
    (os.times() counts in 10 ms ticks)."""
    used = resource.getrusage(resource.RUSAGE_CHILDREN)
    return used.ru_utime + used.ru_stime


def timing(o, truths, out, kind):
    """Times pages with --auto against the same job given by hand."""
    # Wall time, and processor time (all threads), which a busy machine disturbs less.
    print("\n%s\n" % kind)
    print("| Page | --rect (ms) | --auto (ms) | ratio | processor ms, rect / auto | ratio |")
    print("|---|---|---|---|---|---|")
    ratios, cpu_ratios = [], []
    subject = "signature" if kind == "firma" else "photo"
    timed = 0
    for t in [t for t in truths if t[subject]]:
        if timed == o.timing:
            break
        path = os.path.join(o.pages, t["file"])
        code, stdout, _ = run(o.batch, ["--kind", kind, "--auto", path, os.path.join(out, "a.jpg")])
        if code != 0:
            continue
        timed += 1
        turn, rect = parse(stdout)
        rect_args = ["--kind", kind, "--rect", ",".join(map(str, rect))]
        if turn:
            rect_args += ["--rotate", str(turn)]
        # The same job by hand straightens the page as --auto did.
        straighten = dict(p.split("=", 1) for p in stdout.split() if "=" in p).get("straighten")
        if straighten and float(straighten) != 0:
            rect_args += ["--straighten", straighten]
        times, cpu = {}, {}
        for name, args in (("rect", rect_args), ("auto", ["--kind", kind, "--auto"])):
            samples, processor = [], []
            for _ in range(5):
                start = time.perf_counter()
                used = children_cpu()
                run(o.batch, args + [path, os.path.join(out, "t.jpg")])
                samples.append(1000 * (time.perf_counter() - start))
                processor.append(1000 * (children_cpu() - used))
            times[name] = statistics.median(samples)
            cpu[name] = statistics.median(processor)
        ratios.append(times["auto"] / times["rect"])
        cpu_ratios.append(cpu["auto"] / max(cpu["rect"], 1))
        print("| %s (%d dpi %s) | %.0f | %.0f | %.2f | %.0f / %.0f | %.2f |" % (
            t["file"], t["dpi"], t["format"], times["rect"], times["auto"], ratios[-1],
            cpu["rect"], cpu["auto"], cpu_ratios[-1]))
    if ratios:
        print("| median | | | %.2f | | %.2f |" % (statistics.median(ratios), statistics.median(cpu_ratios)))
    return 0


if __name__ == "__main__":
    sys.exit(main())

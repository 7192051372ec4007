#!/usr/bin/python3
"""Whole-process comparison of the batch job across tools, one table.

    compare.py --pages DIR --build DIR [--runs N] [--work DIR]

DIR/pages.txt lists the pages ("FILE ROTATION X,Y,W,H"). Each tool turns the page,
crops the rectangle, stretches it to 400x480 and writes the first JPEG from quality 100
down that fits 34,900 bytes, at 300 dpi. Times come from hyperfine when it is installed,
otherwise from a plain loop; each output is then checked with ImageMagick's identify.
"""
import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

LIMIT = 34900
HERE = os.path.dirname(os.path.abspath(__file__))


def tools(build):
    def rect_args(rect):
        x, y, w, h = rect.split(",")
        return f"{w}x{h}+{x}+{y}"

    found = []
    bare = os.path.join(build, "bench", "bare", "bare-batch")
    found.append(("bare libjpeg-turbo", lambda r, rect, i, o: [bare, "--rotate", r, "--rect", rect, i, o],
                  (".jpg",), os.path.exists(bare)))
    vetra = os.path.join(build, "batch", "vetra-batch")
    found.append(("vetra-batch", lambda r, rect, i, o: [vetra, "--kind", "foto", "--rotate", r, "--rect", rect, i, o],
                  None, os.path.exists(vetra)))
    found.append(("ImageMagick convert", lambda r, rect, i, o: [
        "/usr/bin/convert", i, "-rotate", r, "-crop", rect_args(rect), "+repage", "-resize", "400x480!",
        "-units", "PixelsPerInch", "-density", "300", "-define", f"jpeg:extent={LIMIT}", o],
        None, os.path.exists("/usr/bin/convert")))
    found.append(("GraphicsMagick (loop)", lambda r, rect, i, o: [os.path.join(HERE, "gm-batch.sh"), r, rect, i, o],
                  None, shutil.which("gm") is not None))
    found.append(("Pillow (loop)", lambda r, rect, i, o: ["/usr/bin/python3", os.path.join(HERE, "pillow-batch.py"),
                                                        r, rect, i, o],
                  None, subprocess.run(["/usr/bin/python3", "-c", "import PIL"], capture_output=True).returncode == 0))
    found.append(("vips CLI (loop)", lambda r, rect, i, o: [os.path.join(HERE, "vips-batch.sh"), r, rect, i, o],
                  None, shutil.which("vips") is not None))
    return found


def time_with_hyperfine(cmd, runs, work):
    report = os.path.join(work, "hyperfine.json")
    subprocess.run(["hyperfine", "-N", "--warmup", "1", "--runs", str(runs), "--export-json", report,
                    "--style", "none", " ".join(cmd)], check=True, capture_output=True)
    with open(report) as f:
        result = json.load(f)["results"][0]
    return result["mean"] * 1000, (result["stddev"] or 0) * 1000, (result["user"] + result["system"]) * 1000


def time_with_loop(cmd, runs):
    subprocess.run(cmd, check=True, capture_output=True)  # warm-up
    samples = []
    for _ in range(runs):
        start = time.perf_counter_ns()
        subprocess.run(cmd, check=True, capture_output=True)
        samples.append((time.perf_counter_ns() - start) / 1e6)
    return statistics.mean(samples), statistics.stdev(samples) if len(samples) > 1 else 0.0, None


def check(out):
    if not os.path.exists(out):
        return "no file"
    size = os.path.getsize(out)
    info = subprocess.run(["identify", "-format", "%w %h %x %U", out], capture_output=True, text=True).stdout.split()
    problems = []
    if size > LIMIT:
        problems.append(f"{size} B > limit")
    if info[:2] != ["400", "480"]:
        problems.append("size " + "x".join(info[:2]))
    if len(info) >= 4 and not (info[3] == "PixelsPerInch" and abs(float(info[2]) - 300) < 0.5):
        problems.append(f"density {info[2]} {info[3]}")
    return "ok " + str(size) + " B" if not problems else "; ".join(problems)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--pages", required=True)
    parser.add_argument("--build", required=True)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--work", default=None)
    args = parser.parse_args()
    work = args.work or tempfile.mkdtemp(prefix="vetra-bench-")
    use_hyperfine = shutil.which("hyperfine") is not None
    available = tools(args.build)
    for name, _, _, present in available:
        if not present:
            print(f"note: {name} is not built or installed; its column is skipped", file=sys.stderr)
    print(f"timing: {'hyperfine' if use_hyperfine else 'plain loop'}, {args.runs} runs after one warm-up; "
          f"rotation 90, photo box to 400x480, limit {LIMIT} bytes, 300 dpi")

    rows = []
    with open(os.path.join(args.pages, "pages.txt")) as f:
        pages = [line.split() for line in f if line.strip()]
    for page, rotation, rect in pages:
        path = os.path.join(args.pages, page)
        results = {}
        for name, command, formats, present in available:
            if not present or (formats and not page.endswith(formats)):
                continue
            out = os.path.join(work, f"{page}.{name.split()[0]}.jpg")
            if os.path.exists(out):
                os.remove(out)
            cmd = command(rotation, rect, path, out)
            try:
                mean, sd, cpu = (time_with_hyperfine(cmd, args.runs, work) if use_hyperfine
                                 else time_with_loop(cmd, args.runs))
                results[name] = (mean, sd, cpu, check(out))
            except subprocess.CalledProcessError as e:
                results[name] = (None, None, None, "failed: " + (e.stderr or b"").decode(errors="replace").strip()[-60:])
        rows.append((page, results))

    # CPU time (user + system) is steadier than wall time on a shared machine.
    header = (f"{'page':<15} {'tool':<22} {'mean ms':>9} {'± ms':>7} {'cpu ms':>7} {'× bare':>7} {'× vetra':>8}"
              f"  output")
    print(header)
    print("-" * len(header))
    for page, results in rows:
        bare = results.get("bare libjpeg-turbo", (None,))[0]
        vetra = results.get("vetra-batch", (None,))[0]
        for name, (mean, sd, cpu, verdict) in results.items():
            if mean is None:
                print(f"{page:<15} {name:<22} {'-':>9} {'-':>7} {'-':>7} {'-':>7} {'-':>8}  {verdict}")
                continue
            cpu_text = f"{cpu:.1f}" if cpu is not None else "-"
            over_bare = f"{mean / bare:.2f}" if bare else "-"
            over_vetra = f"{mean / vetra:.2f}" if vetra else "-"
            print(f"{page:<15} {name:<22} {mean:9.1f} {sd:7.1f} {cpu_text:>7} {over_bare:>7} {over_vetra:>8}  {verdict}")
    return 0


if __name__ == "__main__":
    sys.exit(main())

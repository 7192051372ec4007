#!/usr/bin/python3
"""Whole-process comparison of the batch job across tools, one table.

    compare.py --pages DIR --build DIR [--runs N] [--rounds N] [--busy] [--all-peers] [--work DIR]

DIR/jobs.txt lists the jobs ("JOB FILE KIND ROTATION X,Y,W,H"). Each tool turns the page,
crops the rectangle, stretches it to the kind's size and writes the first JPEG from quality
100 down that fits the kind's limit, at 300 dpi. Times come from hyperfine when it is
installed, otherwise from a plain loop; each output is then checked with ImageMagick's
identify. --busy keeps one core busy (one spinning process) while the tools run, as on an
office PC doing something else; --all-peers adds GraphicsMagick and vips when installed.

The machine may be shared: every figure is the median (and the minimum) of the runs, and
--rounds repeats the whole sweep, tools interleaved, keeping the median of the rounds'
medians. The last table gives vetra-batch's ratios to the bare program and to each peer.
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

KINDS = {"foto": ((400, 480), 34900), "firma": ((375, 72), 19900), "adr": ((400, 400), 9900)}
HERE = os.path.dirname(os.path.abspath(__file__))
# The floors: vetra-batch's "bare" column is the one present for the page's format.
BARES = ("bare libjpeg-turbo", "giflib floor")
FLOORS_WITHOUT_OUTPUT = ("giflib floor",)


def bare_of(row):
    return next((row[name] for name in BARES if row.get(name) is not None), None)


def tools(build, all_peers):
    def rect_args(rect):
        x, y, w, h = rect.split(",")
        return f"{w}x{h}+{x}+{y}"

    def size_of(kind):
        (w, h), _ = KINDS[kind]
        return f"{w}x{h}"

    found = []
    bare = os.path.join(build, "bench", "bare", "bare-batch")
    found.append(("bare libjpeg-turbo", lambda k, r, rect, i, o: [
        bare, "--rotate", r, "--rect", rect, "--size", size_of(k), "--limit", str(KINDS[k][1]), i, o],
        (".jpg",), os.path.exists(bare)))
    # GIF pages have giflib's whole decode as their floor (decode only, no output file).
    floor = os.path.join(build, "bench", "bare", "gif-floor")
    found.append(("giflib floor", lambda k, r, rect, i, o: [floor, i], (".gif",), os.path.exists(floor)))
    vetra = os.path.join(build, "batch", "vetra-batch")
    found.append(("vetra-batch", lambda k, r, rect, i, o: [vetra, "--kind", k, "--rotate", r, "--rect", rect, i, o],
                  None, os.path.exists(vetra)))
    # A GIF's first image only, as the other tools read it (not one output file per frame).
    found.append(("ImageMagick convert", lambda k, r, rect, i, o: [
        "/usr/bin/convert", i + "[0]" if i.endswith(".gif") else i, "-rotate", r, "-crop", rect_args(rect), "+repage", "-resize", size_of(k) + "!",
        "-units", "PixelsPerInch", "-density", "300", "-define", f"jpeg:extent={KINDS[k][1]}", o],
        None, os.path.exists("/usr/bin/convert")))
    found.append(("Pillow (loop)", lambda k, r, rect, i, o: [
        "/usr/bin/python3", os.path.join(HERE, "pillow-batch.py"), r, rect, i, o, size_of(k), str(KINDS[k][1])],
        None, subprocess.run(["/usr/bin/python3", "-c", "import PIL"], capture_output=True).returncode == 0))
    if all_peers:
        found.append(("GraphicsMagick (loop)", lambda k, r, rect, i, o: [
            os.path.join(HERE, "gm-batch.sh"), r, rect, i, o, size_of(k), str(KINDS[k][1])],
            None, shutil.which("gm") is not None))
        found.append(("vips CLI (loop)", lambda k, r, rect, i, o: [
            os.path.join(HERE, "vips-batch.sh"), r, rect, i, o, size_of(k), str(KINDS[k][1])],
            None, shutil.which("vips") is not None))
    return found


def time_with_hyperfine(cmd, runs, work):
    """Wall-time samples (ms) and the mean CPU time (user + system, ms)."""
    report = os.path.join(work, "hyperfine.json")
    subprocess.run(["hyperfine", "-N", "--warmup", "1", "--runs", str(runs), "--export-json", report,
                    "--style", "none", " ".join(cmd)], check=True, capture_output=True)
    with open(report) as f:
        result = json.load(f)["results"][0]
    return [t * 1000 for t in result["times"]], (result["user"] + result["system"]) * 1000


def time_with_loop(cmd, runs):
    subprocess.run(cmd, check=True, capture_output=True)  # warm-up
    samples = []
    for _ in range(runs):
        start = time.perf_counter_ns()
        subprocess.run(cmd, check=True, capture_output=True)
        samples.append((time.perf_counter_ns() - start) / 1e6)
    return samples, None


def check(out, kind):
    if not os.path.exists(out):
        return "no file"
    size = os.path.getsize(out)
    info = subprocess.run(["identify", "-format", "%w %h %x %U", out], capture_output=True, text=True).stdout.split()
    problems = []
    (width, height), limit = KINDS[kind]
    if size > limit:
        problems.append(f"{size} B > limit")
    if info[:2] != [str(width), str(height)]:
        problems.append("size " + "x".join(info[:2]))
    if len(info) >= 4 and not (info[3] == "PixelsPerInch" and abs(float(info[2]) - 300) < 0.5):
        problems.append(f"density {info[2]} {info[3]}")
    return "ok " + str(size) + " B" if not problems else "; ".join(problems)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--pages", required=True)
    parser.add_argument("--build", required=True)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--rounds", type=int, default=1)
    parser.add_argument("--work", default=None)
    parser.add_argument("--busy", action="store_true")
    parser.add_argument("--all-peers", action="store_true")
    args = parser.parse_args()
    work = args.work or tempfile.mkdtemp(prefix="vetra-bench-")
    use_hyperfine = shutil.which("hyperfine") is not None
    available = tools(args.build, args.all_peers)
    for name, _, _, present in available:
        if not present:
            print(f"note: {name} is not built or installed; its column is skipped", file=sys.stderr)
    print(f"timing: {'hyperfine' if use_hyperfine else 'plain loop'}, {args.runs} runs after one warm-up, "
          f"{args.rounds} round(s); rotation 90, 300 dpi; {'one core kept busy' if args.busy else 'no load added'}; "
          f"load average before: {os.getloadavg()[0]:.1f}")

    with open(os.path.join(args.pages, "jobs.txt")) as f:
        jobs = [line.split() for line in f if line.strip()]
    jobs = [j for j in jobs if os.path.exists(os.path.join(args.pages, j[1]))]
    busy = subprocess.Popen(["/usr/bin/python3", "-c", "while True: pass"]) if args.busy else None
    # samples[job][tool] = (per-round medians, all samples, per-round cpu, verdict)
    samples = {job: {} for job, *_ in jobs}
    for _ in range(args.rounds):
        for page, file, kind, rotation, rect in jobs:
            path = os.path.join(args.pages, file)
            for name, command, formats, present in available:
                if not present or (formats and not file.endswith(formats)):
                    continue
                out = os.path.join(work, f"{page}.{name.split()[0]}.jpg")
                if os.path.exists(out):
                    os.remove(out)
                cmd = command(kind, rotation, rect, path, out)
                entry = samples[page].setdefault(name, ([], [], [], ""))
                try:
                    times, cpu = (time_with_hyperfine(cmd, args.runs, work) if use_hyperfine
                                  else time_with_loop(cmd, args.runs))
                    entry[0].append(statistics.median(times))
                    entry[1].extend(times)
                    if cpu is not None:
                        entry[2].append(cpu)
                    verdict = "decode only" if name in FLOORS_WITHOUT_OUTPUT else check(out, kind)
                    samples[page][name] = entry[:3] + (verdict,)
                except subprocess.CalledProcessError as e:
                    samples[page][name] = entry[:3] + (
                        "failed: " + (e.stderr or b"").decode(errors="replace").strip()[-60:],)

    if busy is not None:
        busy.kill()
    print(f"load average after: {os.getloadavg()[0]:.1f}")
    # CPU time (user + system) is steadier than wall time on a shared machine.
    header = (f"{'job':<22} {'tool':<22} {'median ms':>10} {'min ms':>8} {'cpu ms':>7} {'× bare':>7} "
              f"{'× vetra':>8}  output")
    print(header)
    print("-" * len(header))
    figures = {}
    for page, results in samples.items():
        row = {}
        for name, (medians, times, cpus, verdict) in results.items():
            if not medians:
                row[name] = None
                continue
            row[name] = (statistics.median(medians), min(times), statistics.median(cpus) if cpus else None, verdict)
        figures[page] = row
        bare = bare_of(row)
        vetra = row.get("vetra-batch")
        for name, value in row.items():
            if value is None:
                print(f"{page:<22} {name:<22} {'-':>10} {'-':>8} {'-':>7} {'-':>7} {'-':>8}  "
                      f"{results[name][3]}")
                continue
            median, fastest, cpu, verdict = value
            cpu_text = f"{cpu:.1f}" if cpu is not None else "-"
            over_bare = f"{median / bare[0]:.2f}" if bare else "-"
            over_vetra = f"{median / vetra[0]:.2f}" if vetra else "-"
            print(f"{page:<22} {name:<22} {median:10.1f} {fastest:8.1f} {cpu_text:>7} {over_bare:>7} "
                  f"{over_vetra:>8}  {verdict}")

    # The ratios of vetra-batch: to the bare program (goal at most 1.5), and how many times
    # faster it is than each peer (goal at least 5 for ImageMagick and Pillow). Median
    # wall time, then minimum wall time in brackets.
    peers = [name for name, _, _, present in available
             if present and name not in BARES + ("vetra-batch",)]
    print()
    print("vetra-batch ratios (median wall [min wall]): vetra/bare (goal <= 1.5), peer/vetra (goal >= 5 for "
          "ImageMagick and Pillow)")
    names = ["vetra ms", "vetra/bare"] + [f"{p.split()[0]}/vetra" for p in peers]
    print(f"{'job':<22} " + " ".join(f"{n:>17}" for n in names))
    for page, row in figures.items():
        vetra = row.get("vetra-batch")
        cells = []
        if vetra is None:
            print(f"{page:<22} {'-':>17}")
            continue
        cells.append(f"{vetra[0]:.1f} [{vetra[1]:.1f}]")
        for name in ["bare"] + peers:
            other = bare_of(row) if name == "bare" else row.get(name)
            if other is None:
                cells.append("-")
            elif name == "bare":
                cells.append(f"{vetra[0] / other[0]:.2f} [{vetra[1] / other[1]:.2f}]")
            else:
                cells.append(f"{other[0] / vetra[0]:.1f} [{other[1] / vetra[1]:.1f}]")
        print(f"{page:<22} " + " ".join(f"{c:>17}" for c in cells))

    # The same ratios in CPU time (user + system), which the other load on a shared machine
    # disturbs far less than wall time. vetra-batch's CPU includes its concurrent encodes.
    print()
    print("vetra-batch ratios in CPU time (median of rounds)")
    print(f"{'job':<22} " + " ".join(f"{n:>17}" for n in names))
    for page, row in figures.items():
        vetra = row.get("vetra-batch")
        if vetra is None or vetra[2] is None:
            continue
        cells = [f"{vetra[2]:.1f}"]
        for name in ["bare"] + peers:
            other = bare_of(row) if name == "bare" else row.get(name)
            if other is None or other[2] is None:
                cells.append("-")
            elif name == "bare":
                cells.append(f"{vetra[2] / other[2]:.2f}")
            else:
                cells.append(f"{other[2] / vetra[2]:.1f}")
        print(f"{page:<22} " + " ".join(f"{c:>17}" for c in cells))
    return 0


if __name__ == "__main__":
    sys.exit(main())

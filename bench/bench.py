#!/usr/bin/python3
"""Benchmark: moltravytext against a short Pillow script that makes the same
picture from the same glyph files (bench/pillowtext.py).

For each input the two run alternately, REPS times each, every run a fresh
process in its own folder. The pictures must have identical pixels. Prints
the median wall time of both and their ratio, the program's peak memory, and
its instruction count under valgrind's callgrind, then checks the targets:

  typical message   <= 0.10 x Pillow's time, <= 17 million instructions
  long message      <= 0.70 x Pillow's time, <= 600 million instructions
  too-large message refused within 20 ms and 16 MiB
  every run         peak memory <= W x H bytes + 16 MiB

Usage: bench.py PROGRAM GLYPHFOLDER [--reps N] [--markdown FILE]
                [--no-time-targets] [--largest] [--glyphsets] [--wine EXE]

--no-time-targets reports wall times without judging them (for a loaded or
shared machine); instruction counts and memory are judged always.
--largest instead stores the largest picture that fits a BMP file (about
2 GB written to a temporary folder) and reports its time and peak memory.
--glyphsets instead times runs on glyph sets built to be slow
(bench/hostileglyphs.py); no run may take more than a second.
--wine EXE adds the Windows program's time for the typical message under
wine, for information, after checking that its picture is the same bytes.
--page HTML --site FOLDER instead times the browser page (bench/pagetimes.mjs,
in Chromium) side by side with the native program on the same messages, and
the site's first visit and its start offline against the page opened from
disk, and judges the ratios (PAGETARGETS).
Exit status 1 when a target is missed or the pictures differ.
"""
import argparse
import datetime
import json
import os
import platform
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

from PIL import Image

HERE = os.path.dirname(os.path.abspath(__file__))
PILLOW = os.path.join(HERE, "pillowtext.py")
MIB = 1024 * 1024

NOTES = """Inputs: *typical*, "The sun is up. We walk down to the sea. Will
you come too?" (59 characters, 3 sentences); *long*, bench/long.txt (1998
characters of prose, 42 sentences); *too large*, 999 full stops and then 999
letters, which the program must refuse at once. Glyphs: the default set.
The Pillow script is bench/pillowtext.py; every picture pair was checked to
have identical pixels. Instructions are callgrind's count for one whole run.

"""

WHERE = """## Where the time goes

Callgrind on the long message: about 87% of the instructions are the image
library's BMP writer, which hands every pixel over as three bytes through a
64-byte buffer (about 33 instructions a pixel); the rest is the callback that
gathers those pieces into 64 KiB writes (about 4%), the placement (about 4%)
and filling the raster (about 3%). What was done about it:

- stb_image and stb_image_write are compiled into the program with its own
  optimisation instead of linking Debian's prebuilt libstb.
- The write callback gathers the writer's 64-byte pieces into 64 KiB writes,
  so a 30 MB picture takes about 500 system calls, not half a million.
- The placement copies a glyph a row at a time (memcpy for odd positions),
  checking the whole cell against the raster once instead of every pixel.
- The default glyph files are 8-bit BMP files with a grey palette: the glyph
  pass loads all 29 files on every run, and these cost about 0.9 million
  instructions fewer than 24-bit BMP files (15.2 million for the typical
  run against 16.1 million), at half the size. Grey PNG data would cost
  about 2 million fewer still, but a file named `.bmp` should be a BMP.
- The picture is synced to disk before it is renamed into place, and its
  folder after: the column "of which syncs" shows what that costs.
- The picture is one W x H block: no copy of it is made for writing, and
  the peak memory stays within about 2 MiB of W x H.
"""


def inputs():
    with open(os.path.join(HERE, "long.txt"), "rb") as f:
        long = f.read().rstrip(b"\n")
    assert len(long) == 1998, len(long)
    return [
        ("typical", b"The sun is up. We walk down to the sea. Will you come too?\n"),
        ("long", long + b"\n"),
        ("too large", b"." * 999 + b"a" * 999 + b"\n"),
    ]


# The most instructions a run on any glyph set may take.
MOSTHOSTILE = 1500 * 1000 * 1000

# The page's targets, as ratios of its time to the native program's for the
# same message on the same machine in the same run: the typical message,
# the long one, and the largest picture a line makes in practice (the
# README's sample line repeated to 1998 characters: 7240 by 8250 pixels, a
# 179 MB file); the page's opening against one native typical run; and the
# longest the page goes without answering during the repeated message,
# against the native program's whole run of it.
PAGETARGETS = {"open": 100.0, "site": 3.0, "offline": 1.5, "typical": 10.0,
               "long": 8.0, "repeated": 4.0, "pause": 0.5}
REPEATED = ("Hello, World! Is this the moltravy script? It is. " * 40)[:1998]


def timedrun(command, folder, data):
    """Runs command in folder with data on stdin; returns (seconds, exit
    status, stdout)."""
    with open(os.path.join(folder, "stdin"), "wb") as f:
        f.write(data)
    with open(os.path.join(folder, "stdin"), "rb") as stdin:
        start = time.perf_counter()
        run = subprocess.run(command, cwd=folder, stdin=stdin,
                             stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, check=False)
        seconds = time.perf_counter() - start
    return seconds, run.returncode, run.stdout


def peakmemory(command, folder, data):
    """The peak resident size of one run, in bytes. Measured by GNU time,
    since a process started straight from this (large) Python process
    would count the pages it shared before exec."""
    with open(os.path.join(folder, "stdin"), "wb") as f:
        f.write(data)
    with open(os.path.join(folder, "stdin"), "rb") as stdin:
        run = subprocess.run(["/usr/bin/time", "-f", "%M"] + command,
                             cwd=folder, stdin=stdin,
                             stdout=subprocess.DEVNULL,
                             stderr=subprocess.PIPE, check=False)
    return int(run.stderr.strip().splitlines()[-1]) * 1024


def size_of(report):
    width = int(re.search(rb"Image  width: +(\d+)", report).group(1))
    height = int(re.search(rb"Image height: +(\d+)", report).group(1))
    return width, height


def instructions(program, folder, data):
    with open(os.path.join(folder, "stdin"), "wb") as f:
        f.write(data)
    with open(os.path.join(folder, "stdin"), "rb") as stdin:
        run = subprocess.run(
            ["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null",
             program], cwd=folder, stdin=stdin, stdout=subprocess.DEVNULL,
            stderr=subprocess.PIPE, check=False)
    found = re.search(rb"Collected : (\d+)", run.stderr)
    return int(found.group(1)) if found else None


def synctime(program, folder, data):
    """Seconds one run spends in fdatasync and fsync, from strace -T: the
    cost of making the stored picture survive a power cut."""
    with open(os.path.join(folder, "stdin"), "wb") as f:
        f.write(data)
    with open(os.path.join(folder, "stdin"), "rb") as stdin:
        run = subprocess.run(
            ["strace", "-qq", "-T", "-e", "trace=fdatasync,fsync", program],
            cwd=folder, stdin=stdin, stdout=subprocess.DEVNULL,
            stderr=subprocess.PIPE, check=False)
    return sum(float(t) for t in re.findall(rb"<(\d+\.\d+)>", run.stderr))


def samepixels(a, b):
    with Image.open(a) as x, Image.open(b) as y:
        return x.size == y.size and x.convert("RGB").tobytes() == \
            y.convert("RGB").tobytes()


def folderwith(glyphs, root, name):
    folder = os.path.join(root, name)
    shutil.copytree(glyphs, folder)
    return folder


def machine():
    cpu = platform.processor() or platform.machine()
    try:
        with open("/proc/cpuinfo") as f:
            names = re.findall(r"model name\s*:\s*(.*)", f.read())
            if names:
                cpu = names[0]
    except OSError:
        pass
    return "%s, %d cores, %s" % (cpu, os.cpu_count(), platform.platform())


def benchmark(args):
    program = os.path.abspath(args.program)
    rows, misses = [], []
    with tempfile.TemporaryDirectory() as root:
        for name, data in inputs():
            ours = folderwith(args.glyphs, root, name + "-program")
            theirs = folderwith(args.glyphs, root, name + "-pillow")
            refused = name == "too large"
            times, pillowtimes = [], []
            report = b""
            for _ in range(args.reps):
                seconds, status, report = timedrun([program], ours, data)
                if status != (1 if refused else 0):
                    sys.exit("%s: the program ended with %d" % (name, status))
                times.append(seconds)
                if not refused:
                    seconds, status, _ = timedrun(
                        ["/usr/bin/python3", PILLOW], theirs, data)
                    if status != 0:
                        sys.exit("%s: the Pillow script failed" % name)
                    pillowtimes.append(seconds)
            width, height = size_of(report)
            row = {"name": name, "size": "%d x %d" % (width, height),
                   "time": statistics.median(times),
                   "peak": peakmemory([program], ours, data)}
            if refused:
                if row["time"] > 0.020 and args.timetargets:
                    misses.append("too large: refused in %.1f ms" %
                                  (row["time"] * 1000))
                if row["peak"] > 16 * MIB:
                    misses.append("too large: %.1f MiB" % (row["peak"] / MIB))
            else:
                if not samepixels(os.path.join(ours, "moltravytext.bmp"),
                                  os.path.join(theirs, "pillowtext.bmp")):
                    misses.append("%s: the pictures differ" % name)
                row["pillow"] = statistics.median(pillowtimes)
                row["ratio"] = row["time"] / row["pillow"]
                row["instructions"] = instructions(program, ours, data)
                row["syncs"] = statistics.median(
                    synctime(program, ours, data) for _ in range(3))
                ratio, limit = (0.10, 17e6) if name == "typical" else (0.70, 600e6)
                if row["ratio"] > ratio and args.timetargets:
                    misses.append("%s: %.2f x Pillow's time, over %.2f" %
                                  (name, row["ratio"], ratio))
                if row["instructions"] is None or row["instructions"] > limit:
                    misses.append("%s: %s instructions, over %d million" %
                                  (name, row["instructions"], limit / 1e6))
                if row["peak"] > width * height + 16 * MIB:
                    misses.append("%s: peak %.1f MiB over W x H + 16 MiB" %
                                  (name, row["peak"] / MIB))
            rows.append(row)
        if args.wine:
            rows.append(underwine(args, root, inputs()[0][1],
                                  os.path.join(root, "typical-program")))
    return rows, misses


def underwine(args, root, data, linuxfolder):
    """The Windows program's time for the typical message under wine, on the
    same glyphs, shown for information: wine adds its own start-up. Its
    picture must be the Linux program's, byte for byte."""
    folder = folderwith(args.glyphs, root, "typical-wine")
    wine = ["/usr/lib/wine/wine64", os.path.abspath(args.wine)]
    os.environ["WINEDEBUG"] = "-all"
    timedrun(wine, folder, data)  # the wine server starts
    times = [timedrun(wine, folder, data)[0] for _ in range(args.reps)]
    with open(os.path.join(folder, "moltravytext.bmp"), "rb") as f, \
            open(os.path.join(linuxfolder, "moltravytext.bmp"), "rb") as g:
        if f.read() != g.read():
            sys.exit("typical: the Windows program's picture differs")
    return {"name": "typical, Windows .exe under wine",
            "size": "220 x 1250", "time": statistics.median(times),
            "peak": None}


def table(rows, reps):
    lines = ["| input | picture | program | of which syncs | Pillow script | "
             "ratio | instructions | peak memory |",
             "|---|---|---|---|---|---|---|---|"]
    for r in rows:
        lines.append("| %s | %s | %.1f ms | %s | %s | %s | %s | %s |" % (
            r["name"], r["size"], r["time"] * 1000,
            "%.2f ms" % (r["syncs"] * 1000) if "syncs" in r else "-",
            "%.1f ms" % (r["pillow"] * 1000) if "pillow" in r else "-",
            "%.3f" % r["ratio"] if "ratio" in r else "-",
            "{:,}".format(r["instructions"]) if r.get("instructions") else "-",
            "%.1f MiB" % (r["peak"] / MIB) if r["peak"] else "-"))
    lines.append("")
    lines.append("Median wall time of %d alternating runs each; peak memory "
                 "is the program's largest resident size, from GNU time. "
                 "Syncs: the median time of three runs spent in fdatasync "
                 "and fsync (strace -T), which store the picture safely "
                 "against a power cut." % reps)
    if any("wine" in r["name"] for r in rows):
        lines[-1] += (" The Windows program's row is its time under wine on "
                      "this machine, for information: most of it is wine's "
                      "own start-up.")
    return "\n".join(lines)


def appendsection(markdown, title, option, body):
    """Appends a section, dated, to the results file: body follows the
    command that made it."""
    with open(markdown, "a") as f:
        f.write("\n## %s\n\nMade on %s by `bench/run %s --markdown "
                "docs/benchmarks.md`%s%s" % (
                    title, datetime.date.today().isoformat(), option,
                    "" if body.startswith(":") else " ", body))


def largest(args):
    # 126 full stops, then one sentence of 1868 positions: 7660 by 93450
    # pixels, a 2147481054-byte file, just under the BMP limit.
    data = b"." * 126 + b"a" * 1867 + b".\n"
    with tempfile.TemporaryDirectory(dir=args.scratch) as root:
        folder = folderwith(args.glyphs, root, "largest")
        start = time.perf_counter()
        run = subprocess.run(
            ["/usr/bin/time", "-f", "%M", os.path.abspath(args.program)],
            cwd=folder, input=data, capture_output=True, check=False)
        seconds = time.perf_counter() - start
        peak = int(run.stderr.strip().splitlines()[-1]) * 1024
        width, height = size_of(run.stdout)
        picture = os.path.join(folder, "moltravytext.bmp")
        stored = os.path.getsize(picture) if run.returncode == 0 else 0
    line = ("largest picture: %d x %d, status %d, %.2f s, peak %.1f MiB "
            "(W x H is %.1f MiB), file %d bytes" % (
                width, height, run.returncode, seconds, peak / MIB,
                width * height / MIB, stored))
    print(line)
    if args.markdown:
        appendsection(args.markdown, "The largest picture that can be stored",
                      "--largest", "(126 full stops, then a sentence of 1868 "
                      "positions): %s.\n" % line)
    return 0 if run.returncode == 0 and peak <= width * height + 16 * MIB \
        else 1


def glyphsets(args):
    """Times a run of the typical message on each hostile glyph set (29
    copies of one file from bench/hostileglyphs.py) and counts its
    instructions with callgrind: no set may take more than MOSTHOSTILE
    instructions, about a second on a Raspberry Pi 4 class core."""
    import hostileglyphs
    program = os.path.abspath(args.program)
    data = inputs()[0][1]
    lines = ["| glyph set | what each file is | run | instructions | status |",
             "|---|---|---|---|---|"]
    worst = 0.0
    most = 0
    with tempfile.TemporaryDirectory() as root:
        for name, what, glyph in hostileglyphs.HOSTILE:
            folder = os.path.join(root, name.replace(" ", "-"))
            os.mkdir(folder)
            for entry in os.listdir(args.glyphs):
                with open(os.path.join(folder, entry), "wb") as f:
                    f.write(glyph)
            runs = [timedrun([program], folder, data) for _ in range(args.reps)]
            seconds = statistics.median(r[0] for r in runs)
            worst = max(worst, seconds)
            count = instructions(program, folder, data) or 0
            most = max(most, count)
            status = "%d (%s)" % (runs[0][1], "stored" if runs[0][1] == 0
                                  else "refused")
            lines.append("| %s | %s (%d bytes) | %.3f s | %.1f M | %s |" % (
                name, what, len(glyph), seconds, count / 1e6, status))
    text = "\n".join(lines)
    print(text)
    fine = worst <= 1 and 0 < most <= MOSTHOSTILE
    verdict = "worst %.3f s, %.2f G instructions: %s" % (
        worst, most / 1e9, "within 1 s and %.1f G" % (MOSTHOSTILE / 1e9)
        if fine else "MISSED: over 1 s or %.1f G" % (MOSTHOSTILE / 1e9))
    print(verdict)
    if args.markdown:
        appendsection(args.markdown, "Hostile glyph sets", "--glyphsets",
                      ": the typical message on 29 copies of one glyph file "
                      "built to be slow (bench/hostileglyphs.py), median wall "
                      "time of %d runs and callgrind's instruction count. No "
                      "set of 29 glyph files may take a run past 1 s here, nor "
                      "past %.1f G instructions, about a second on a "
                      "Raspberry Pi 4 class core.\n\n%s\n\nResult: %s.\n" % (
                          args.reps, MOSTHOSTILE / 1e9, text, verdict))
    return 0 if fine else 1


def pagebench(args):
    """The page's times in Chromium (bench/pagetimes.mjs), from Enter to
    the picture shown, beside the native program's for the same messages,
    each the median of its runs; judged as ratios (PAGETARGETS)."""
    program = os.path.abspath(args.program)
    reps = min(args.reps, 5)
    messages = [("typical", inputs()[0][1]), ("long", inputs()[1][1]),
                ("repeated", REPEATED.encode() + b"\n")]
    rows, misses = [], []
    with tempfile.TemporaryDirectory() as root:
        files = []
        native = {}
        for name, data in messages:
            folder = folderwith(args.glyphs, root, name)
            runs = [timedrun([program], folder, data) for _ in range(reps)]
            if any(r[1] != 0 for r in runs):
                sys.exit("%s: the program ended with %d" % (name, runs[0][1]))
            native[name] = statistics.median(r[0] for r in runs) * 1000
            files.append(os.path.join(root, name + ".txt"))
            with open(files[-1], "wb") as f:
                f.write(data)
        nodefolder = os.path.join(os.path.dirname(HERE), "build-pagecheck")
        run = subprocess.run(
            ["node", os.path.join(HERE, "pagetimes.mjs"),
             os.path.abspath(args.page), os.path.abspath(args.site),
             str(reps)] + files,
            cwd=nodefolder, capture_output=True, check=False)
        if run.returncode != 0:
            sys.exit("the page could not be timed:\n" + run.stderr.decode())
        page = json.loads(run.stdout.decode().strip().splitlines()[-1])
    page = {(k if k in ("open", "site", "offline") else
             os.path.basename(k)[:-4]): v for k, v in page.items()}
    page["pause"] = page["repeated"]["gap"]
    repeated = page["repeated"]
    split = ("The repeated message's %.1f ms: the program's run in the worker "
             "%.1f ms, its preview drawn %.1f ms, the rest (the line handed "
             "to the worker, the preview handed back and shown) %.1f ms; "
             "the save link's Blob is made after." % (
                 repeated["ms"], repeated["module"], repeated["preview"],
                 repeated["ms"] - repeated["module"] - repeated["preview"]))
    for name in ["typical", "long", "repeated"]:
        page[name] = page[name]["ms"]
    # The site's starts against the single-file page's; the rest against
    # the native program.
    for name in ["open", "site", "offline", "typical", "long", "repeated",
                 "pause"]:
        yardstick = (page["open"] if name in ("site", "offline") else
                     native["typical" if name == "open" else
                            "repeated" if name == "pause" else name])
        ratio = page[name] / yardstick
        rows.append((name, page[name], yardstick, ratio))
        if ratio > PAGETARGETS[name]:
            misses.append("page, %s: %.1f x its yardstick's time, over "
                          "%.1f" % (name, ratio, PAGETARGETS[name]))
    lines = ["| page | in Chromium | yardstick | ratio | target |",
             "|---|---|---|---|---|"]
    for name, ms, yardstick, ratio in rows:
        lines.append("| %s | %.1f ms | %.1f ms | %.2f | %.1f |" % (
            "opened from disk (against a native typical run)"
            if name == "open" else
            "the site's first visit, served (against the page opened from "
            "disk)" if name == "site" else
            "the site opened offline, from its service worker (against the "
            "page opened from disk)" if name == "offline" else
            "longest pause while the repeated message runs (against its "
            "native run)" if name == "pause" else name + " message",
            ms, yardstick, ratio, PAGETARGETS[name]))
    text = "\n".join(lines) + "\n\n" + split
    print(text)
    print()
    print("\n".join("MISSED: " + m for m in misses) if misses
          else "Every page target holds.")
    if args.markdown:
        appendsection(args.markdown, "The page in a browser", "--page",
                      ": the page (moltravytext.html, opened from disk in "
                      "headless Chromium) and the native program on the same "
                      "messages in the same run, and the site (served by a "
                      "plain static server under /moltravytext/, then "
                      "offline) against the page, each the median of %d "
                      "runs, the starts each in a new profile; "
                      "the page's time runs from Enter to the picture (or its "
                      "preview) shown, the program's is the whole process. "
                      "*repeated* is the README's sample line repeated to "
                      "1998 characters, a 7240 by 8250 picture (a 179 MB "
                      "file).\n\n%s\n\nResult: %s.\n" % (
                          reps, text, "; ".join(misses) if misses
                          else "every target holds"))
    return 1 if misses else 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("program")
    parser.add_argument("glyphs")
    parser.add_argument("--reps", type=int, default=11)
    parser.add_argument("--markdown")
    parser.add_argument("--no-time-targets", dest="timetargets",
                        action="store_false")
    parser.add_argument("--largest", action="store_true")
    parser.add_argument("--glyphsets", action="store_true")
    parser.add_argument("--wine")
    parser.add_argument("--scratch", default=None)
    parser.add_argument("--page")
    parser.add_argument("--site")
    args = parser.parse_args()
    if args.page:
        sys.exit(pagebench(args))
    if args.largest:
        sys.exit(largest(args))
    if args.glyphsets:
        sys.exit(glyphsets(args))
    rows, misses = benchmark(args)
    text = table(rows, args.reps)
    print(text)
    print()
    print("\n".join("MISSED: " + m for m in misses) if misses
          else "Every target holds.")
    if args.markdown:
        with open(args.markdown, "w") as f:
            f.write("# Benchmarks\n\n")
            f.write("Made on %s on %s by `bench/run --markdown "
                    "docs/benchmarks.md`.\n\n" % (
                        datetime.date.today().isoformat(), machine()))
            f.write(NOTES)
            f.write(text + "\n\n")
            f.write("Targets: typical message at most 0.10 x Pillow's time "
                    "and 17 million instructions; long message at most "
                    "0.70 x and 600 million; the too-large message refused "
                    "within 20 ms and 16 MiB; peak memory of any run at most "
                    "W x H bytes + 16 MiB. Result: %s\n" % (
                        "; ".join(misses) if misses else "every target holds."))
            f.write("\n" + WHERE)
    sys.exit(1 if misses else 0)


if __name__ == "__main__":
    main()

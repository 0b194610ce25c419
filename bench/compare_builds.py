#!/usr/bin/python3
"""Decoding and encoding speed of two builds side by side, in one run, so a
change to the library can be judged against the build before it on the
same (possibly busy) machine.

Usage: bench/compare_builds.py OLD_BUILD NEW_BUILD [ROUNDS]

Each round runs both builds' vld_bench on the decoder cases below and both
builds' vldtool encode (CPU time) on a 2048 x 2048 photo (gnome-backgrounds' wood-l.webp,
as a PNG), alternating which goes first; the table gives the medians and
new / old.
"""
import json
import os
import resource
import statistics
import subprocess
import sys
import tempfile

from PIL import Image

CASES = ["decode/literal/640x400", "decode/block_left/640x400", "decode/repeat/4096x4096",
         "decode/literal/4096x4096", "decode/sample_waves_800x560$"]
PHOTO = "/usr/share/backgrounds/gnome/wood-l.webp"


def bench(build):
    out = subprocess.run([os.path.join(build, "bin", "vld_bench"), "--benchmark_format=json",
                          "--benchmark_min_time=0.2", "--benchmark_filter=" + "|".join(CASES)],
                         capture_output=True, text=True, check=True).stdout
    return {b["name"]: b["cpu_time"] for b in json.loads(out)["benchmarks"]}


def encode(build, png, out):
    """CPU time (user and system) of one run, which a busy machine disturbs
    far less than the time on the clock."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    subprocess.run([os.path.join(build, "bin", "vldtool"), "encode", png, "-o", out],
                   capture_output=True, check=True)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return (after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime) * 1e9


def main():
    old, new = sys.argv[1], sys.argv[2]
    rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 5
    work = tempfile.mkdtemp()
    png = os.path.join(work, "photo.png")
    Image.open(PHOTO).convert("RGB").resize((2048, 2048)).save(png)
    times = {"old": {}, "new": {}}
    for r in range(rounds):
        for side in (["old", "new"] if r % 2 == 0 else ["new", "old"]):
            build = old if side == "old" else new
            for name, ns in bench(build).items():
                times[side].setdefault(name, []).append(ns)
            for _ in range(3):
                times[side].setdefault("vldtool encode 2048x2048 photo", []).append(
                    encode(build, png, os.path.join(work, side + ".vld")))
    print("%-40s %12s %12s %8s" % ("case (median, microseconds)", "old", "new", "new/old"))
    for name in times["old"]:
        a, b = statistics.median(times["old"][name]), statistics.median(times["new"][name])
        print("%-40s %12.1f %12.1f %8.3f" % (name, a / 1000, b / 1000, b / a))


main()

#!/usr/bin/python3
"""The decoder's speed as a multiple of memcpy, size by size.

Usage: bench/decode_ratios.py [VLD_BENCH]   (default build/native/bin/vld_bench)

Runs each decode and memcpy benchmark of the four main sizes several times
and takes the least CPU time of each, which is the most robust figure on a
shared machine, then divides each decode by the memcpy into a fresh buffer
of the same size (the decoder allocates its buffer each time too).
"""
import json
import re
import subprocess
import sys

bench = sys.argv[1] if len(sys.argv) > 1 else "build/native/bin/vld_bench"
result = subprocess.run(
    [bench, "--benchmark_filter=^(decode|memcpy)/[a-z_]+/[0-9]+x[0-9]+",
     "--benchmark_repetitions=5", "--benchmark_min_time=0.2", "--benchmark_format=json"],
    check=True, capture_output=True, text=True)
best = {}
for run in json.loads(result.stdout)["benchmarks"]:
    if run.get("run_type") != "iteration":
        continue
    name = re.match(r"[a-z]+/[a-z_]+/\d+x\d+", run["name"]).group(0)
    best[name] = min(best.get(name, float("inf")), run["cpu_time"])
sizes = sorted({n.split("/")[2] for n in best}, key=lambda s: -int(s.split("x")[0]))
kinds = ["repeat", "block_above", "block_four_above", "block_left", "literal", "block_literal"]
print("| size | " + " | ".join(kinds) + " |")
print("|---" * (len(kinds) + 1) + "|")
for size in sizes:
    reference = best[f"memcpy/fresh_buffer/{size}"]
    cells = [f"{best[f'decode/{kind}/{size}'] / reference:.2f}x" for kind in kinds]
    print(f"| {size} | " + " | ".join(cells) + " |")

#!/usr/bin/python3
"""Start-up cost: time from process creation to the first painted picture,
for velinde.exe and for a minimal program that opens one plain window of the
same size at the same place, under the same Wine, alternating runs.

    startup.py --build BUILD_DIR [--runs 10] [--native NATIVE_BUILD_DIR]

With --native, the Linux viewer too, on an Xvfb without window manager: from
its start to its report of the first painted frame (VELINDE_REPORT).
"""

import argparse
import os
import re
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import NativeSession, Session, make_picture, windows_path  # noqa: E402

GREEN = 0xF800  # pure green as a picture colour


def first_paint(session, program, *arguments):
    text = session.probe("firstpaint", "100", "60", "00FF00", windows_path(program), *arguments)
    m = re.search(r"firstpaint t=(-?[\d.]+)", text)
    value = float(m.group(1)) if m else -1
    if value < 0:
        raise SystemExit("startup: no paint seen: %r" % text)
    return value


def native_first_paint(session, picture):
    report = session.result_file("startup")
    env = session.env()
    env["VELINDE_REPORT"] = report
    started = time.monotonic()
    process = subprocess.Popen([session.viewer, "/nof", "/l0,0", "/w10", picture], env=env,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    seen = None
    while seen is None and time.monotonic() - started < 30:
        if os.path.exists(report) and "window " in open(report).read():
            seen = (time.monotonic() - started) * 1000
        else:
            time.sleep(0.001)
    process.kill()
    process.wait()
    if seen is None:
        raise SystemExit("startup: the native viewer painted nothing")
    return seen


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--runs", type=int, default=10)
    parser.add_argument("--native")
    options = parser.parse_args()
    results = []
    with Session(options.build, 800, 600) as session:
        picture = os.path.join(session.work, "green.vld")
        make_picture(picture, b"", (0, 0), [[1] * 204 for _ in range(124)],
                     [0, GREEN, GREEN, GREEN])
        viewer_arguments = ("/nof", "/l0,0", "/w10", windows_path(picture))
        # One run of each first, so that both find Wine's files in the cache.
        first_paint(session, session.viewer, *viewer_arguments)
        first_paint(session, session.probe_exe, "window", "00FF00")
        viewer, plain = [], []
        for _ in range(options.runs):
            viewer.append(first_paint(session, session.viewer, *viewer_arguments))
            plain.append(first_paint(session, session.probe_exe, "window", "00FF00"))
    results += [("velinde.exe", viewer), ("one plain window", plain)]
    if options.native:
        with NativeSession(options.native, 800, 600) as session:
            picture = os.path.join(session.work, "green.vld")
            make_picture(picture, b"", (0, 0), [[1] * 204 for _ in range(124)],
                         [0, GREEN, GREEN, GREEN])
            native_first_paint(session, picture)
            results.append(("velinde (Linux)",
                            [native_first_paint(session, picture) for _ in range(options.runs)]))
    for name, values in results:
        print("%-18s median %.1f ms  mean %.1f ms  min %.1f  max %.1f  (%d runs)" %
              (name, statistics.median(values), statistics.mean(values), min(values), max(values),
               len(values)))
    print("ratio of medians %.3f" % (statistics.median(viewer) / statistics.median(plain)))


if __name__ == "__main__":
    main()

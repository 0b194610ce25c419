#!/usr/bin/python3
"""Start-up cost: time from process creation to the first painted picture,
for velinde.exe and for a minimal program that opens one plain window of the
same size at the same place, under the same Wine, alternating runs.

    startup.py --build BUILD_DIR [--runs 10]
"""

import argparse
import os
import re
import statistics
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import Session, make_picture, windows_path  # noqa: E402

GREEN = 0xF800  # pure green as a picture colour


def first_paint(session, program, *arguments):
    text = session.probe("firstpaint", "100", "60", "00FF00", windows_path(program), *arguments)
    m = re.search(r"firstpaint t=(-?[\d.]+)", text)
    value = float(m.group(1)) if m else -1
    if value < 0:
        raise SystemExit("startup: no paint seen: %r" % text)
    return value


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--runs", type=int, default=10)
    options = parser.parse_args()
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
    for name, values in (("velinde.exe", viewer), ("one plain window", plain)):
        print("%-18s median %.1f ms  mean %.1f ms  min %.1f  max %.1f  (%d runs)" %
              (name, statistics.median(values), statistics.mean(values), min(values), max(values),
               len(values)))
    print("ratio of medians %.3f" % (statistics.median(viewer) / statistics.median(plain)))


if __name__ == "__main__":
    main()

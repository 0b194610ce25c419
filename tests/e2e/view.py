#!/usr/bin/python3
"""scripts/view run as the README shows it, from the top of the source tree
and with no X display: its screenshot must show the named picture, exactly,
where its anchor places it. One CTest test per case:

    view.py CASE --build BUILD_DIR --vldtool NATIVE_VLDTOOL

The runs share scripts/view's own Wine prefix (under BUILD_DIR), so only the
first one pays for preparing it.
"""

import argparse
import glob
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import (Failure, NativeSession, check, find_picture, make_picture, pattern_indices,  # noqa: E402
                     place, read_picture)

from PIL import Image  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SCREEN = (1024, 768)  # scripts/view's private display
REFERENCE = (768, 512)
NATIVE = False  # the native viewer, or velinde.exe under Wine (scripts/view --wine)


def view(build, *words):
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WINEPREFIX", "VLD_SHOT")}
    env["VLD_BUILD"] = build
    words = words if NATIVE else ("--wine", *words)
    return subprocess.run([os.path.join("scripts", "view"), *words], cwd=ROOT, env=env,
                          capture_output=True, text=True, timeout=200)


def screenshot(result):
    check(result.returncode == 0, "scripts/view exit status %d: %s" % (result.returncode,
                                                                      result.stderr))
    last = result.stdout.strip().splitlines()[-1] if result.stdout.strip() else ""
    check(" is in " in last, "no screenshot path printed: %r" % result.stdout)
    image = Image.open(last.split(" is in ", 1)[1]).convert("RGB")
    image.load()
    check(image.size == SCREEN, "screenshot of %s, expected %s" % (image.size, SCREEN))
    return image


def shown_at(shot, picture):
    anchor, indices, palette = picture
    corner = tuple(place(SCREEN[i], anchor[i], (len(indices[0]), len(indices))[i], REFERENCE[i])
                   for i in (0, 1))
    return find_picture(shot, corner, indices, palette)


def case_sample_by_path(options):
    path = os.path.join(ROOT, "samples", "sakura.vld")
    shot = screenshot(view(options.build, path))
    check(shown_at(shot, read_picture(options.vldtool, path)), "sakura.vld not on the screen")


def case_folder_with_space(options):
    work = tempfile.mkdtemp(prefix="vld-view-")
    try:
        folder = os.path.join(work, "\u7d75\u306e \u30d5\u30a9\u30eb\u30c0")  # "picture folder"
        os.mkdir(folder)
        indices = pattern_indices(90, 50, seed=2)
        palette = [0x0000, 0xF800, 0x07C0, 0x843F]
        make_picture(os.path.join(folder, "\u4e00\u679a.vld"), b"", (500, 300), indices, palette)
        shot = screenshot(view(options.build, folder))
        check(shown_at(shot, ((500, 300), indices, palette)), "the folder's picture not on the screen")
    finally:
        shutil.rmtree(work, ignore_errors=True)


def case_no_argument(options):
    shot = screenshot(view(options.build))
    samples = sorted(glob.glob(os.path.join(ROOT, "samples", "*.vld")) +
                     glob.glob(os.path.join(ROOT, "samples", "*.tft")))
    shown = [os.path.basename(s) for s in samples if shown_at(shot, read_picture(options.vldtool, s))]
    check(len(shown) == 1, "pictures of samples/ on the screen: %s" % shown)


def case_missing_name(options):
    for words, name in ((["missing.vld"], "missing.vld"),
                        (["/w50", "/no/such/folder"], "/no/such/folder"),
                        (["samples", "/nosuchname"], "/nosuchname")):
        result = view(options.build, *words)
        check(result.returncode != 0 and result.stdout == "" and
              result.stderr == "view: %s: no such file or folder\n" % name,
              "scripts/view %s: status %d, stdout %r, stderr %r" %
              (" ".join(words), result.returncode, result.stdout, result.stderr))


def case_gio_open(options):
    """A double-click's way, with the packages installed: `gio open` finds
    the desktop entry by the picture's type; the viewer shows it and closes
    on Shift + right-click."""
    work = tempfile.mkdtemp(prefix="vld-gio-")
    try:
        data = os.path.join(work, "data")
        picture = ((400, 250), pattern_indices(70, 40, seed=9), [0x0000, 0xF800, 0x07C0, 0x843F])
        path = os.path.join(work, "double click.vld")
        make_picture(path, b"", *picture)
        with NativeSession(options.build, *SCREEN) as session:
            report = session.result_file("report")
            env = dict(session.env(), XDG_DATA_HOME=data, VELINDE_REPORT=report,
                       XDG_CONFIG_HOME=os.path.join(work, "config"))
            # The viewer inherits gio's output: a pipe would stay open while it runs.
            gio = subprocess.run(["gio", "open", path], env=env, timeout=60,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            check(gio.returncode == 0, "gio open failed")
            session.wait_for(lambda: os.path.exists(report) and "window " in open(report).read(),
                             30, "the viewer's window")
            time.sleep(0.3)
            shown = shown_at(session.screenshot(), picture)
            check(shown, "the picture not at its place: %s" % open(report).read())
            session.xdotool("mousemove", *shown, "keydown", "shift", "click", 3, "keyup", "shift")
            session.wait_for(lambda: subprocess.run(["xdotool", "search", "--name", "^Velinde"],
                                                    env=env).returncode, 30, "the viewer closing")
    finally:
        shutil.rmtree(work, ignore_errors=True)


CASES = {
    "gio_open": case_gio_open,
    "sample_by_path": case_sample_by_path,
    "folder_with_space": case_folder_with_space,
    "no_argument": case_no_argument,
    "missing_name": case_missing_name,
}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("case", choices=sorted(CASES))
    parser.add_argument("--build", required=True)
    parser.add_argument("--vldtool", required=True)
    parser.add_argument("--native", action="store_true")
    options = parser.parse_args()
    global NATIVE
    NATIVE = options.native
    options.build = os.path.abspath(options.build)
    try:
        CASES[options.case](options)
    except Failure as failure:
        print("FAIL view_%s: %s" % (options.case, failure))
        return 1
    print("ok view_%s" % options.case)
    return 0


if __name__ == "__main__":
    sys.exit(main())

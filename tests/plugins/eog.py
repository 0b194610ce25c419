#!/usr/bin/python3
"""Eye of GNOME shows a picture 1:1, through the privately registered loader.

    eog.py CONFIG SCREENSHOT.png

Opens a sample without an extension (so known by content) in eog on a
private Xvfb, D-Bus session, settings and home, and takes screenshots until
the picture as `vldtool decode` draws it is on the screen pixel for pixel.
"""

import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

from PIL import Image

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import consumers  # noqa: E402

SAMPLE = "sakura"


def find(screen, picture):
    """(x, y) where the picture lies 1:1 on the screen, or None."""
    width, height = picture.size
    screen_width, screen_height = screen.size
    rows = [picture.tobytes()[y * width * 3:(y + 1) * width * 3] for y in range(height)]
    pixels = screen.tobytes()
    line = screen_width * 3
    # Look for the row with the most colour changes: it occurs in few places.
    anchor = max(range(height), key=lambda y: len({rows[y][i:i + 3] for i in range(0, width * 3, 3)}))
    for y in range(anchor, screen_height - height + anchor + 1):
        start = y * line
        at = pixels.find(rows[anchor], start, start + line)
        while at >= 0:
            x = (at - start) // 3
            if (at - start) % 3 == 0 and x + width <= screen_width:
                top = (y - anchor) * line + x * 3
                if all(pixels[top + r * line:top + r * line + width * 3] == rows[r]
                       for r in range(height)):
                    return x, y - anchor
            at = pixels.find(rows[anchor], at + 1, start + line)
    return None


def start_xvfb(source):
    xvfb = subprocess.Popen([os.path.join(source, "scripts", "xvfb"), "1024x768x24"],
                            stdout=subprocess.PIPE)
    number = xvfb.stdout.readline().decode().strip()
    xvfb.stdout.close()
    return xvfb, ":" + number


def main():
    config = json.load(open(sys.argv[1]))
    shot = sys.argv[2]
    work = tempfile.mkdtemp(prefix="vld-eog-")
    xvfb = eog = None
    try:
        env = dict(os.environ, **consumers.private_registration(config, work))
        picture_path = os.path.join(work, SAMPLE)
        shutil.copy(os.path.join(config["source"], "samples", SAMPLE + ".vld"), picture_path)
        reference = os.path.join(work, "reference.png")
        subprocess.run([config["vldtool"], "decode", picture_path, "-o", reference], check=True)
        picture = Image.open(reference).convert("RGB")

        xvfb, display = start_xvfb(config["source"])
        home = os.path.join(work, "home")
        runtime = os.path.join(work, "run")
        os.makedirs(home)
        os.makedirs(runtime, mode=0o700)
        env.update(DISPLAY=display, HOME=home, XDG_RUNTIME_DIR=runtime, GDK_BACKEND="x11",
                   NO_AT_BRIDGE="1")
        eog = subprocess.Popen(["dbus-run-session", "--", "eog", "--new-instance", picture_path],
                               env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                               start_new_session=True)
        found = None
        deadline = time.monotonic() + 40
        while found is None and time.monotonic() < deadline and eog.poll() is None:
            time.sleep(1)
            subprocess.run(["import", "-display", display, "-window", "root", shot], check=True)
            found = find(Image.open(shot).convert("RGB"), picture)
        if found is None:
            status = eog.poll()
            print("FAIL: the picture is not on the screen 1:1 (see %s)%s" %
                  (shot, "" if status is None else "; eog exited with %d" % status))
            return 1
        print("ok: eog shows %s %dx%d 1:1 at %d,%d (screenshot %s)" %
              ((SAMPLE,) + picture.size + found + (shot,)))
        return 0
    finally:
        for process in (eog, xvfb):
            if process is not None and process.poll() is None:
                if process is eog:
                    os.killpg(process.pid, signal.SIGTERM)
                else:
                    process.terminate()
                process.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())

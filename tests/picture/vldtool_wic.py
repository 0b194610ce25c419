#!/usr/bin/python3
"""vldtool.exe under Wine against the Linux vldtool: the same PNGs from
decode, the same picture files from encode, and failures that leave no file.

Usage: vldtool_wic.py --exe VLDTOOL.EXE --native VLDTOOL --wine-run WINE-RUN --samples DIR
"""
import argparse
import os
import struct
import subprocess
import sys
import tempfile

from PIL import Image


def chunks(path):
    """The PNG's chunks as {type: data} (the last of each type)."""
    data = open(path, "rb").read()
    found, at = {}, 8
    while at + 8 <= len(data):
        (length,) = struct.unpack(">I", data[at:at + 4])
        found[data[at + 4:at + 8].decode("latin-1")] = data[at + 8:at + 8 + length]
        at += 12 + length
    return found


class Runner:
    def __init__(self, args, work):
        self.args, self.work, self.failures = args, work, []

    def path(self, name):
        return os.path.join(self.work, name)

    def run(self, windows, *argv):
        command = ([self.args.wine_run, self.args.exe] if windows else [self.args.native]) + list(argv)
        done = subprocess.run(command, cwd=self.work, capture_output=True, text=True,
                              encoding="utf-8", errors="replace")
        return done.returncode, (done.stdout + done.stderr).strip()

    def fail(self, message):
        self.failures.append(message)
        print("FAIL:", message)


def decoded_rgb(runner, vld):
    png = vld + ".png"
    subprocess.run([runner.args.native, "decode", vld, "-o", png], check=True)
    return list(Image.open(png).convert("RGB").getdata())


def check_decode(runner):
    """Every sample, once plain and once with --transparent."""
    for n, name in enumerate(sorted(os.listdir(runner.args.samples))):
        sample = os.path.join(runner.args.samples, name)
        flags = ["--transparent"] if n % 2 else []
        outs = [runner.path(f"{name}-{k}.png") for k in (0, 1)]
        results = [runner.run(windows, "decode", sample, *flags, "-o", out)
                   for windows, out in zip((False, True), outs)]
        if results[0][0] != 0 or results[1][0] != 0:
            runner.fail(f"decode {name}: {results}")
            continue
        linux, win = (chunks(p) for p in outs)
        differ = [t for t in ("IHDR", "PLTE", "tRNS") if linux.get(t) != win.get(t)]
        if differ or len(linux.get("PLTE", b"")) != 12:
            runner.fail(f"decode {name} {flags}: {differ or 'PLTE'} differ or not 4 entries")
        elif list(Image.open(outs[0]).getdata()) != list(Image.open(outs[1]).getdata()):
            runner.fail(f"decode {name}: the pixels differ")


def check_encode(runner):
    """Each input through vldtool.exe against its reference through vldtool."""
    sample = os.path.join(runner.args.samples, "sakura.vld")
    subprocess.run([runner.args.native, "decode", sample, "-o", runner.path("p.png")], check=True)
    subprocess.run([runner.args.native, "decode", sample, "--transparent", "-o",
                    runner.path("t.png")], check=True)
    plain, clear = Image.open(runner.path("p.png")), Image.open(runner.path("t.png"))
    plain.save(runner.path("p.bmp"))
    plain.save(runner.path("p.tif"))
    clear.save(runner.path("t.gif"))
    clear.convert("RGBA").save(runner.path("rgba.png"))
    plain.convert("RGB").save(runner.path("p.jpg"), quality=95)
    # Packed pixels with rows that end inside a byte; more than four colours.
    plain.crop((0, 0, 219, 150)).save(runner.path("p2.png"), bits=2)
    ramp = Image.linear_gradient("L").resize((61, 37)).convert("RGB").quantize(16)
    ramp.save(runner.path("g16.png"), bits=4)
    ramp.save(runner.path("g16.gif"))
    # (input for vldtool.exe, the same pixels as vldtool reads them)
    cases = [("p.png", "p.png"), ("t.png", "t.png"), ("rgba.png", "rgba.png"),
             ("p2.png", "p2.png"), ("g16.png", "g16.png"), ("g16.gif", "g16.gif"),
             ("p.bmp", "p.png"), ("p.tif", "p.png"), ("t.gif", "t.gif"), ("p.jpg", "p.jpg")]
    for given, reference in cases:
        args = ["--anchor", "12,34", "--comment", "sakura"]
        status, text = runner.run(False, "encode", reference, *args, "-o", given + "-linux.vld")
        status_win, text_win = runner.run(True, "encode", given, *args, "-o", given + "-win.vld")
        if status != 0 or status_win != 0:
            runner.fail(f"encode {given}: {text} / {text_win}")
            continue
        linux, win = runner.path(given + "-linux.vld"), runner.path(given + "-win.vld")
        if given.endswith(".jpg"):
            # The JPEG decoders may round differently: the decoded pictures
            # must agree within one level of the file's 5-bit colours.
            a, b = decoded_rgb(runner, linux), decoded_rgb(runner, win)
            worst = max(abs(x - y) for p, q in zip(a, b) for x, y in zip(p, q))
            if len(a) != len(b) or worst > 9:
                runner.fail(f"encode {given}: decoded pictures differ by up to {worst}")
        elif open(linux, "rb").read() != open(win, "rb").read():
            runner.fail(f"encode {given}: the picture files differ")


def check_failures(runner):
    """Refused inputs: the same status, and no output file left."""
    with open(runner.path("p.png"), "rb") as f:
        png = f.read()
    with open(runner.path("t.gif"), "rb") as f:
        gif = f.read()
    # 65535 x 65535 on the screen and in the image descriptor.
    at = gif.index(b"\x2c", 13)
    huge = gif[:6] + b"\xff" * 4 + gif[10:at + 5] + b"\xff" * 4 + gif[at + 9:]
    inputs = {"junk.png": b"not an image\n", "cut.png": png[:100], "cut.gif": gif[:-20],
              "empty.gif": gif[:13] + b"\x3b", "huge.gif": huge}
    # Reasons that do not come from a codec are worded alike.
    same_text = ("junk.png", "huge.gif")
    for name, data in inputs.items():
        with open(runner.path(name), "wb") as f:
            f.write(data)
        statuses, texts = [], []
        for windows in (False, True):
            out = f"{name}-{int(windows)}.vld"
            status, text = runner.run(windows, "encode", name, "-o", out)
            statuses.append(status)
            texts.append(text)
            if not text.startswith(f"vldtool: encode: {name}: ") or "\n" in text:
                runner.fail(f"encode {name}: not one line naming the file: {text!r}")
            if os.path.exists(runner.path(out)):
                runner.fail(f"encode {name}: left {out} behind")
        if statuses != [1, 1]:
            runner.fail(f"encode {name}: exit statuses {statuses}, want [1, 1]")
        if name in same_text and texts[0] != texts[1]:
            runner.fail(f"encode {name}: {texts[0]!r} / {texts[1]!r}")


def main():
    parser = argparse.ArgumentParser()
    for option in ("--exe", "--native", "--wine-run", "--samples"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()
    if not os.access(args.native, os.X_OK):
        print(f"the Linux vldtool is missing ({args.native}); build the native preset first")
        return 1
    with tempfile.TemporaryDirectory(prefix="vldtool_wic_") as work:
        runner = Runner(args, work)
        check_decode(runner)
        check_encode(runner)
        check_failures(runner)
    print("FAILED" if runner.failures else "ok")
    return 1 if runner.failures else 0


if __name__ == "__main__":
    sys.exit(main())

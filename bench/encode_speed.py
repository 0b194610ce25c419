#!/usr/bin/python3
"""Encoding time and peak memory of vldtool encode, side by side with
ImageMagick's four-colour reduction, in one run.

Usage: bench/encode_speed.py [VLDTOOL]   (default build/native/bin/vldtool)

1. A 4096 x 4096 RGB photo (gnome-backgrounds' wood-l.webp as a PNG):
   vldtool encode against `convert IN -dither None -colors 4 OUT` and
   `convert IN -colors 4 OUT`, best of three each.
2. The largest picture the viewer accepts, 16376 x 16376 (an index buffer
   of 256 MiB less 64 KiB), as an RGB PNG tiled from the same photo and as a
   4-entry palette PNG: peak memory (maximum resident set) against the index
   buffer.
"""
import os
import re
import subprocess
import sys
import tempfile
import zlib

from PIL import Image

PHOTO = "/usr/share/backgrounds/gnome/wood-l.webp"
LARGEST = 16376


def timed(args):
    result = subprocess.run(["/usr/bin/time", "-f", "%e %M"] + args, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, text=True, check=True)
    seconds, kib = result.stderr.strip().splitlines()[-1].split()
    return float(seconds), int(kib)


def best_of(args, runs=3):
    return min(timed(args) for _ in range(runs))


def write_png(path, width, height, colour_type, rows, palette=None):
    """Writes a PNG a row at a time, so the whole picture is never in memory."""
    def chunk(kind, data):
        body = kind + data
        return len(data).to_bytes(4, "big") + body + zlib.crc32(body).to_bytes(4, "big")
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n")
        out.write(chunk(b"IHDR", width.to_bytes(4, "big") + height.to_bytes(4, "big") +
                        bytes([8, colour_type, 0, 0, 0])))
        if palette:
            out.write(chunk(b"PLTE", palette))
        packer = zlib.compressobj(1)
        pending, size = [], 0
        for row in rows:
            pending.append(packer.compress(b"\0" + row))
            size += len(pending[-1])
            if size > 1 << 20:
                out.write(chunk(b"IDAT", b"".join(pending)))
                pending, size = [], 0
        pending.append(packer.flush())
        out.write(chunk(b"IDAT", b"".join(pending)))
        out.write(chunk(b"IEND", b""))


def main():
    vldtool = sys.argv[1] if len(sys.argv) > 1 else "build/native/bin/vldtool"
    with tempfile.TemporaryDirectory() as work:
        photo = os.path.join(work, "photo.png")
        subprocess.run(["convert", PHOTO, "-alpha", "off", "-type", "TrueColor", photo], check=True)
        out = os.path.join(work, "out")
        v = best_of([vldtool, "encode", photo, "-o", out + ".vld"])
        m = best_of(["convert", photo, "-dither", "None", "-colors", "4", out + ".png"])
        d = best_of(["convert", photo, "-colors", "4", out + ".png"])
        print("4096 x 4096 RGB photo, best of 3 (seconds, peak MiB):")
        print(f"  vldtool encode                     {v[0]:6.2f} s {v[1] / 1024:7.0f} MiB")
        print(f"  convert -dither None -colors 4     {m[0]:6.2f} s {m[1] / 1024:7.0f} MiB"
              f"   vldtool/IM = {v[0] / m[0]:.2f}x")
        print(f"  convert -colors 4                  {d[0]:6.2f} s {d[1] / 1024:7.0f} MiB"
              f"   vldtool/IM = {v[0] / d[0]:.2f}x")

        source = Image.open(photo).convert("RGB")
        side = source.width
        pixels = source.tobytes()
        source_rows = [pixels[3 * side * y:3 * side * (y + 1)] for y in range(side)]
        del source, pixels
        buffer_bytes = (LARGEST + 4) * ((LARGEST + 11) & ~3)
        large = os.path.join(work, "large.png")
        write_png(large, LARGEST, LARGEST, 2,
                  ((source_rows[y % side] * (LARGEST // side + 1))[:3 * LARGEST]
                   for y in range(LARGEST)))
        rgb = timed([vldtool, "encode", large, "-o", out + ".vld"])
        os.remove(large)
        table = bytes(range(256)).translate(bytes(b % 4 for b in range(256)))
        write_png(large, LARGEST, LARGEST, 3,
                  ((source_rows[y % side][::3].translate(table) * (LARGEST // side + 1))[:LARGEST]
                   for y in range(LARGEST)),
                  palette=bytes([0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255]))
        indexed = timed([vldtool, "encode", large, "-o", out + ".vld"])
        print(f"\n{LARGEST} x {LARGEST}, index buffer {buffer_bytes / 2**20:.0f} MiB:")
        for name, (seconds, kib) in (("RGB PNG", rgb), ("palette PNG", indexed)):
            print(f"  {name:12} {seconds:6.2f} s  peak {kib / 1024:6.0f} MiB"
                  f" = {kib * 1024 / buffer_bytes:.2f}x the index buffer")


if __name__ == "__main__":
    main()

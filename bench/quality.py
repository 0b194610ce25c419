#!/usr/bin/python3
"""Four-colour quality of vldtool encode against ImageMagick and pngquant.

Usage: bench/quality.py [VLDTOOL]   (default build/native/bin/vldtool)

Every image comes from a Debian package that scripts/setup installs; none is
made by this project. Each is reduced to four colours by
  vldtool encode IN -o OUT.vld, then vldtool decode (as the viewer shows it)
  convert IN -dither None -colors 4 OUT.png
  pngquant --nofs --force 4 (undithered, like the other two)
and scored by PSNR over the pixels that are opaque (alpha >= 128) in the
original, since transparent ones are not shown. Prints a Markdown table.
"""
import math
import os
import subprocess
import sys
import tempfile

from PIL import Image, ImageChops, ImageStat

# (package, file, ImageMagick options to make the test PNG from it)
IMAGES = [
    ("python-matplotlib-data", "/usr/share/matplotlib/mpl-data/sample_data/grace_hopper.jpg", []),
    ("python-matplotlib-data", "/usr/share/matplotlib/mpl-data/sample_data/Minduka_Present_Blue_Pack.png", []),
    ("python-matplotlib-data", "/usr/share/matplotlib/mpl-data/sample_data/logo2.png", []),
    ("valgrind", "/usr/share/doc/valgrind/html/images/kcachegrind_xtree.png", []),
    ("valgrind", "/usr/share/doc/valgrind/html/images/dh-tree.png", []),
    ("nodejs", "/usr/share/doc/nodejs/contributing/doc_img/scatter-plot.png", []),
    ("nodejs", "/usr/share/doc/nodejs/contributing/doc_img/compare-boxplot.png", []),
    ("nodejs", "/usr/share/doc/nodejs/contributing/doc_img/youtube-stream-analytics.png", []),
    ("gnupg", "/usr/share/info/gnupg-module-overview.png", []),
    ("adwaita-icon-theme", "/usr/share/icons/Adwaita/512x512/devices/camera-web.png", []),
    ("adwaita-icon-theme", "/usr/share/icons/Adwaita/512x512/devices/drive-harddisk.png", []),
    ("gnome-backgrounds", "/usr/share/backgrounds/gnome/wood-l.webp", ["-resize", "1024x1024"]),
    ("gnome-backgrounds", "/usr/share/backgrounds/gnome/pixels-l.webp", ["-resize", "1024x1024"]),
    ("gnome-backgrounds", "/usr/share/backgrounds/gnome/adwaita-d.webp", ["-resize", "1024x1024"]),
]


def run(*args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def psnr(original, result):
    base = Image.open(original).convert("RGBA")
    mask = base.getchannel("A").point(lambda a: 255 if a >= 128 else 0)
    other = Image.open(result).convert("RGBA")
    diff = ImageChops.difference(base.convert("RGB"), other.convert("RGB"))
    count = ImageStat.Stat(mask).sum[0] / 255
    if count == 0:
        return float("inf")
    mse = sum(ImageStat.Stat(diff, mask).sum2) / (3 * count)
    return float("inf") if mse == 0 else 10 * math.log10(255 * 255 / mse)


def main():
    vldtool = sys.argv[1] if len(sys.argv) > 1 else "build/native/bin/vldtool"
    rows = []
    with tempfile.TemporaryDirectory() as work:
        for package, path, options in IMAGES:
            name = os.path.basename(path)
            source = os.path.join(work, name + ".png")
            run("convert", path, *options, source)
            run(vldtool, "encode", source, "-o", source + ".vld")
            run(vldtool, "decode", source + ".vld", "-o", source + ".vld.png")
            run("convert", source, "-dither", "None", "-colors", "4", source + ".im.png")
            run("pngquant", "--nofs", "--force", "--output", source + ".pq.png", "4", source)
            rows.append((name, package, psnr(source, source + ".vld.png"),
                         psnr(source, source + ".im.png"), psnr(source, source + ".pq.png")))
    print("| image | package | vldtool | ImageMagick | pngquant |")
    print("|---|---|---:|---:|---:|")
    for name, package, v, m, q in rows:
        print(f"| {name} | {package} | {v:.2f} | {m:.2f} | {q:.2f} |")
    means = [sum(r[k] for r in rows) / len(rows) for k in (2, 3, 4)]
    print(f"| **mean** | | **{means[0]:.2f}** | **{means[1]:.2f}** | **{means[2]:.2f}** |")
    worst = min(rows, key=lambda r: r[2] - r[3])
    print(f"\nLargest shortfall against ImageMagick: {worst[2] - worst[3]:+.2f} dB ({worst[0]})")


if __name__ == "__main__":
    main()

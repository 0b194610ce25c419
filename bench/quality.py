#!/usr/bin/python3
"""Four-colour quality of vldtool encode against the best colours a long
search finds, ImageMagick and pngquant.

Usage: bench/quality.py [VLDTOOL] [--before OLD_VLDTOOL] [--restarts N]
  VLDTOOL defaults to build/native/bin/vldtool; the search, vld_best_found,
  is taken from the same folder. --before adds a column for another build.

Every image comes from a Debian package that scripts/setup installs; none is
made by this project. Each is reduced to four colours by
  vldtool encode IN -o OUT.vld, then vldtool decode (as the viewer shows it)
  convert IN -dither None -colors 4 OUT.png
  pngquant --nofs --force 4 (undithered, like the other two)
and scored by PSNR over the pixels that are opaque (alpha >= 128) in the
original, since transparent ones are not shown. vld_best_found (bench/
best_found.cpp) gives the best palette words its search finds, scored the
same way; "gap" is how far vldtool stays below it. For the images with text
on a light ground, the WCAG contrast between the colour the text (pixels
with luma below 80) mostly gets and the ground's colour (the most used one)
is given too. Prints a Markdown table.
"""
import math
import os
import subprocess
import sys
import tempfile

from PIL import Image, ImageChops, ImageStat

# (package, file, ImageMagick options to make the test PNG from it); TEXT
# marks the images whose dark text on a light ground must stay readable.
TEXT = {"kcachegrind_xtree.png", "dh-tree.png", "scatter-plot.png", "compare-boxplot.png",
        "youtube-stream-analytics.png", "gnupg-module-overview.png"}
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


def luminance(rgb):
    """WCAG relative luminance of an 8-bit colour."""
    def linear(v):
        v /= 255
        return v / 12.92 if v <= 0.03928 else ((v + 0.055) / 1.055) ** 2.4
    return 0.2126 * linear(rgb[0]) + 0.7152 * linear(rgb[1]) + 0.0722 * linear(rgb[2])


def most_used(image, mask):
    """The most used colour of `image` where `mask` is set."""
    hidden = Image.new("RGB", image.size, (1, 2, 3))
    colours = Image.composite(image, hidden, mask).getcolors(1 << 24)
    return max((c for c in colours if c[1] != (1, 2, 3)), default=(0, None))[1]


def text_contrast(original, result):
    """Contrast between the colours a light ground's dark text and the
    ground itself get, or None when there is no such text."""
    base = Image.open(original).convert("RGBA")
    opaque = base.getchannel("A").point(lambda a: 255 if a >= 128 else 0)
    dark = ImageChops.multiply(opaque, base.convert("L").point(lambda v: 255 if v < 80 else 0))
    other = Image.open(result).convert("RGB")
    ground, text = most_used(other, opaque), most_used(other, dark)
    if ground is None or text is None or luminance(ground) < 0.5:
        return None
    light, deep = sorted((luminance(ground), luminance(text)), reverse=True)
    return (light + 0.05) / (deep + 0.05)


def best_found(search, source, out_png, restarts):
    image = Image.open(source).convert("RGBA")
    raw, rgb = out_png + ".rgba", out_png + ".rgb"
    with open(raw, "wb") as f:
        f.write(image.tobytes())
    run(search, raw, str(image.width), str(image.height), rgb, str(restarts))
    with open(rgb, "rb") as f:
        Image.frombytes("RGB", image.size, f.read()).save(out_png)


def main():
    args = sys.argv[1:]
    before = restarts = None
    if "--before" in args:
        at = args.index("--before")
        before = args[at + 1]
        del args[at:at + 2]
    if "--restarts" in args:
        at = args.index("--restarts")
        restarts = int(args[at + 1])
        del args[at:at + 2]
    vldtool = args[0] if args else "build/native/bin/vldtool"
    search = os.path.join(os.path.dirname(vldtool), "vld_best_found")
    rows = []
    with tempfile.TemporaryDirectory() as work:
        for package, path, options in IMAGES:
            name = os.path.basename(path)
            source = os.path.join(work, name + ".png")
            run("convert", path, *options, source)
            scores = {}
            for label, tool in (("vldtool", vldtool), ("before", before)):
                if tool is None:
                    continue
                run(tool, "encode", source, "-o", source + ".vld")
                run(tool, "decode", source + ".vld", "-o", source + "." + label + ".png")
                scores[label] = psnr(source, source + "." + label + ".png")
            best_found(search, source, source + ".best.png", restarts or 1000)
            run("convert", source, "-dither", "None", "-colors", "4", source + ".im.png")
            run("pngquant", "--nofs", "--force", "--output", source + ".pq.png", "4", source)
            contrast = text_contrast(source, source + ".vldtool.png") if name in TEXT else None
            rows.append((name, package, scores.get("before"), scores["vldtool"],
                         psnr(source, source + ".best.png"), psnr(source, source + ".im.png"),
                         psnr(source, source + ".pq.png"), contrast))
    head = "| image | package |" + (" before |" if before else "") + \
        " vldtool | best found | gap | ImageMagick | pngquant | text contrast |"
    print(head)
    print("|---|---|" + ("---:|" if before else "") + "---:|---:|---:|---:|---:|---:|")
    for name, package, b, v, best, m, q, contrast in rows:
        print(f"| {name} | {package} |" + (f" {b:.2f} |" if before else "") +
              f" {v:.2f} | {best:.2f} | {best - v:.2f} | {m:.2f} | {q:.2f} | " +
              (f"{contrast:.2f}:1 |" if contrast else "|"))
    means = [sum(r[k] for r in rows) / len(rows) for k in (3, 4, 5, 6)]
    mean_before = f" **{sum(r[2] for r in rows) / len(rows):.2f}** |" if before else ""
    print(f"| **mean** | |{mean_before} **{means[0]:.2f}** | **{means[1]:.2f}** | "
          f"**{means[1] - means[0]:.2f}** | **{means[2]:.2f}** | **{means[3]:.2f}** | |")
    worst = max(rows, key=lambda r: r[4] - r[3])
    print(f"\nGap to the best found: {means[1] - means[0]:.3f} dB on average, "
          f"{worst[4] - worst[3]:.2f} dB at worst ({worst[0]}).")
    if before:
        gaps = [r[4] - r[2] for r in rows]
        print(f"Before: {sum(gaps) / len(gaps):.3f} dB on average, {max(gaps):.2f} dB at worst.")
    low = [r for r in rows if r[7] is not None and r[7] < 4.5]
    print("Text contrast: " + ("below 4.5:1 on " + ", ".join(r[0] for r in low) if low
                               else "4.5:1 or more wherever measured") + ".")


if __name__ == "__main__":
    main()

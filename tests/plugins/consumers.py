#!/usr/bin/python3
"""The plug-ins in the programs that load them.

    consumers.py CONFIG               this build's plug-ins, registered privately
    consumers.py CONFIG --installed   what the installed package registered

Every sample, as NAME.vld, NAME.tft and NAME, must come out of GdkPixbuf
(whole, at a size, fed in pieces), of the .thumbnailer entry's command and of
QImageReader (whole and at half size) exactly as `vldtool decode` draws it,
thumbnails of small pictures grown by whole pixels, and GIO must name its
type; every damaged file must give an error, in GdkPixbuf with the reason
`vldtool info` gives. Pictures of 20 KB that declare a quarter of a
gigapixel make thumbnails within a time and memory bound and answer a size
query at once. CONFIG is the build's tests/plugins/config.json.
"""

import configparser
import glob
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time

from PIL import Image

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from harness import grbi_to_rgb  # noqa: E402

MIME_TYPE = "image/x-vld"
failed = []


def private_registration(config, work):
    """Environment in which the programs know this build's plug-ins."""
    cache = os.path.join(work, "loaders.cache")
    loaders = sorted(glob.glob(os.path.join(config["system_loaders"], "*.so")))
    with open(cache, "w") as out:
        subprocess.run([config["query_loaders"]] + loaders + [config["loader"]], stdout=out,
                       check=True)
    data = os.path.join(work, "data")
    os.makedirs(os.path.join(data, "mime", "packages"))
    os.makedirs(os.path.join(data, "thumbnailers"))
    shutil.copy(config["mime_xml"], os.path.join(data, "mime", "packages"))
    shutil.copy(config["thumbnailer"], os.path.join(data, "thumbnailers"))
    subprocess.run(["update-mime-database", os.path.join(data, "mime")], check=True,
                   env=dict(os.environ, XDG_DATA_HOME=data))
    # Settings and caches stay in the scratch folder too.
    return {"GDK_PIXBUF_MODULE_FILE": cache, "XDG_DATA_HOME": data,
            "QT_PLUGIN_PATH": config["qt_plugins"], "GSETTINGS_BACKEND": "memory",
            "XDG_CACHE_HOME": os.path.join(work, "cache"),
            "XDG_CONFIG_HOME": os.path.join(work, "config"),
            "PATH": os.path.dirname(config["thumbnailer_program"]) + os.pathsep + os.environ["PATH"]}


def damaged(picture):
    header = picture.index(b"\x1a") + 1  # the format byte, then anchor, width, height
    def patch(offset, data):
        return picture[:header + offset] + data + picture[header + offset + len(data):]
    return [("truncated.vld", picture[:len(picture) * 2 // 3]),
            ("format3.vld", patch(0, b"\3")),
            ("zero-width.vld", patch(5, b"\0\0")),
            ("too-large.vld", patch(5, struct.pack(">HH", 65535, 65535))),
            ("open-comment.vld", picture[:header - 1]),
            ("not-a-picture.vld", b"HK04" + picture[4:])]


BOMB_PALETTE = (0x0001, 0xF800, 0x07C0, 0xFFFE)


def bomb(width, height):
    """20 KB declaring width x height: one literal row of indices 0, 1, 2, 3
    over and over, then repeat rows."""
    header = b"HK03\x1a\x02" + struct.pack(">8H", 0, 0, width, height, *BOMB_PALETTE)
    return header + b"\0" + b"\x55\x33" * ((width + 7) // 8) + b"\xc0" * (height - 1)


# How long a thumbnail or a refusal of one may take, and how much memory.
BOUND_SECONDS, BOUND_KIB = 0.5, 32 * 1024


def bounded(argv):
    """Runs argv; a problem with its time or peak memory, or None, and its
    exit status and error output. GNU time measures the memory, as a child
    forked from this process would report this process's own."""
    with tempfile.NamedTemporaryFile("r") as usage:
        started = time.monotonic()
        result = subprocess.run(["time", "-f", "%M", "-o", usage.name] + argv,
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True,
                                errors="replace")
        took, kib = time.monotonic() - started, int(usage.read().split()[-1])
    problem = "%.2f s, %d MiB" % (took, kib // 1024)
    return (problem if took > BOUND_SECONDS or kib > BOUND_KIB else None), result.returncode, \
        result.stderr


def png_rgb(path):
    return Image.open(path).convert("RGB")


def pixbuf_rgb(pixbuf):
    mode = "RGBA" if pixbuf.get_has_alpha() else "RGB"
    size = (pixbuf.get_width(), pixbuf.get_height())
    return Image.frombuffer(mode, size, pixbuf.get_pixels(), "raw", mode,
                            pixbuf.get_rowstride(), 1).convert("RGB")


def differ(expected, got):
    if expected.size != got.size:
        return "size %dx%d, expected %dx%d" % (got.size + expected.size)
    a, b = expected.tobytes(), got.tobytes()
    if a != b:
        first = next(i for i in range(len(a)) if a[i] != b[i]) // 3
        return "pixel (%d, %d) differs" % (first % got.size[0], first // got.size[0])
    return None


def check(name, function, *args):
    try:
        problem = function(*args)
    except Exception as error:  # a consumer that raises fails the check
        problem = "%s: %s" % (type(error).__name__, error)
    print("%s %s%s" % ("FAIL" if problem else "ok  ", name, ": " + problem if problem else ""))
    if problem:
        failed.append(name)


def main():
    config = json.load(open(sys.argv[1]))
    installed = sys.argv[2:] == ["--installed"]
    work = tempfile.mkdtemp(prefix="vld-plugins-")
    try:
        if installed:
            for name in ("GDK_PIXBUF_MODULE_FILE", "QT_PLUGIN_PATH"):
                os.environ.pop(name, None)
            os.environ["XDG_DATA_HOME"] = work  # none of the user's own types
            paths = {"thumbnailer": "/usr/share/thumbnailers/velinde.thumbnailer",
                     "mime_xml": "/usr/share/mime/packages/velinde.xml",
                     "loader": os.path.join(config["system_loaders"], "libpixbufloader-vld.so"),
                     "vldtool": "/usr/bin/vldtool"}
        else:
            os.environ.update(private_registration(config, work))
            paths = {key: config[key] for key in ("thumbnailer", "mime_xml", "loader", "vldtool")}
        os.environ["QT_QPA_PLATFORM"] = "offscreen"
        run_all(config, work, paths)
        print("%d failed%s" % (len(failed), ": " + ", ".join(failed) if failed else ""))
        return 1 if failed else 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


def run_all(config, work, paths):
    import gi  # only now, so that GdkPixbuf and GIO see the registration
    gi.require_version("GdkPixbuf", "2.0")
    from gi.repository import GdkPixbuf, GLib

    parser = configparser.ConfigParser(interpolation=None)
    parser.read(paths["thumbnailer"])
    entry = parser["Thumbnailer Entry"]

    def thumbnailer(path, size, out):
        return subprocess.run(thumbnailer_argv(path, size, out), capture_output=True)

    def thumbnailer_argv(path, size, out):
        return [word.replace("%s", str(size)).replace("%u", GLib.filename_to_uri(path)).replace(
            "%i", path).replace("%o", out) for word in entry["Exec"].split()]

    def registration():
        formats = [f for f in GdkPixbuf.Pixbuf.get_formats() if f.get_name() == "vld"]
        if [(f.get_mime_types(), sorted(f.get_extensions())) for f in formats] != [
                ([MIME_TYPE], ["tft", "vld"])]:
            return "gdk-pixbuf's vld loaders: %s" % formats
        if entry["MimeType"] != MIME_TYPE + ";":
            return "the thumbnailer is for %s" % entry["MimeType"]
        if 'type="%s"' % MIME_TYPE not in open(paths["mime_xml"]).read():
            return "the MIME XML names another type"
        names = subprocess.run(["nm", "-D", "--defined-only", paths["loader"]],
                               capture_output=True, text=True, check=True).stdout.split()[2::3]
        if sorted(names) != ["fill_info", "fill_vtable"]:
            return "the loader exports %s" % names
        formats = subprocess.run([config["qt_read"], "--formats"], capture_output=True,
                                 text=True, check=True).stdout.split()
        return None if {"vld", "tft"} <= set(formats) else "Qt reads only %s" % formats

    def content_type(path):
        out = subprocess.run(["gio", "info", "-a", "standard::content-type", path],
                             capture_output=True, text=True, check=True).stdout
        return None if "standard::content-type: %s\n" % MIME_TYPE in out else out

    def at_size(path, expected):
        got = GdkPixbuf.Pixbuf.new_from_file_at_size(path, 16, 16)
        width, height = got.get_width(), got.get_height()
        w, h = expected.size
        if max(width, height) != 16 or abs(width * h - height * w) > max(w, h):
            return "%dx%d at size 16 for a %dx%d picture" % (width, height, w, h)
        return halved(expected) and differ(halved(expected), pixbuf_rgb(
            GdkPixbuf.Pixbuf.new_from_file_at_scale(path, w // 2, h // 2, False)))

    def file_info(path, expected):
        found, width, height = GdkPixbuf.Pixbuf.get_file_info(path)
        got = (found.get_name() if found else None, width, height)
        return None if got == ("vld",) + expected.size else "file info %s" % (got,)

    def in_pieces(data, piece, mime_type):
        loader = (GdkPixbuf.PixbufLoader.new_with_mime_type(mime_type) if mime_type
                  else GdkPixbuf.PixbufLoader())
        events = []
        loader.connect("size-prepared", lambda *_: events.append("size"))
        loader.connect("area-prepared", lambda *_: events.append("prepared"))
        loader.connect("area-updated", lambda _, *area: events.append(area))
        for start in range(0, len(data), piece):  # a failed write closes the loader
            loader.write(data[start:start + piece])
        loader.close()
        return loader.get_pixbuf(), events

    def incremental(path, expected, piece, mime_type):
        pixbuf, events = in_pieces(open(path, "rb").read(), piece, mime_type)
        if events[:2] != ["size", "prepared"]:
            return "signals %s" % events[:2]
        width, height = expected.size
        covered = bytearray(width * height)
        for x, y, w, h in events[2:]:
            for row in range(y, y + h):
                covered[row * width + x:row * width + x + w] = b"\1" * w
        return "area-updated leaves pixels out" if 0 in covered else differ(
            expected, pixbuf_rgb(pixbuf))

    def halved(expected):
        """Each pixel the average of the 2 x 2 it covers, where they tile."""
        w, h = expected.size
        return expected.reduce(2) if w % 2 == 0 and h % 2 == 0 else None

    def thumbnail(path, expected, size):
        out = os.path.join(work, "thumbnail-%d.png" % size)
        thumbnailer(path, size, out).check_returncode()
        (w, h), got = expected.size, png_rgb(out)
        grow = size // max(w, h)
        if grow >= 1:  # sharp squares, as large as fit
            return differ(expected.resize((w * grow, h * grow), Image.NEAREST), got)
        if size * 2 == max(w, h) and halved(expected):
            return differ(halved(expected), got)
        return None if max(got.size) == size else "%dx%d at size %d" % (got.size + (size,))

    def qt_read(path, expected, scaled=False):
        out = os.path.join(work, "qt.png")
        w, h = expected.size
        result = subprocess.run([config["qt_read"]] + (["--scaled", "%dx%d" % (w // 2, h // 2)]
                                                       if scaled else []) + [path, out],
                                capture_output=True, text=True)
        words = result.stdout.split()
        if result.returncode != 0 or words[0] not in ("vld", "tft") or words[1] != "%dx%d" % (w, h):
            return "QImageReader: %s" % (result.stdout + result.stderr).strip()
        return differ(halved(expected) if scaled else expected, png_rgb(out))

    check("registration: loader, MIME type, thumbnailer, Qt", registration)
    pictures = os.path.join(work, "pictures")
    os.makedirs(pictures)
    for sample in sorted(glob.glob(os.path.join(config["source"], "samples", "*.vld"))):
        name = os.path.splitext(os.path.basename(sample))[0]
        reference = os.path.join(work, name + ".png")
        subprocess.run([paths["vldtool"], "decode", sample, "-o", reference], check=True)
        expected = png_rgb(reference)
        for file_name in (name + ".vld", name + ".tft", name):
            path = os.path.join(pictures, file_name)
            shutil.copy(sample, path)
            size = max(expected.size)
            check("gio type of " + file_name, content_type, path)
            check("GdkPixbuf " + file_name, lambda: differ(
                expected, pixbuf_rgb(GdkPixbuf.Pixbuf.new_from_file(path))))
            check("GdkPixbuf %s at size 16" % file_name, at_size, path, expected)
            check("GdkPixbuf file info of " + file_name, file_info, path, expected)
            for piece, mime_type in ((1, None), (7, MIME_TYPE), (4096, None)):
                check("GdkPixbufLoader %s in %d-byte pieces as %s" % (file_name, piece, mime_type),
                      incremental, path, expected, piece, mime_type)
            for thumbnail_size in (256, size, size // 2):
                check("thumbnailer %s at %d" % (file_name, thumbnail_size), thumbnail, path,
                      expected, thumbnail_size)
            check("QImageReader " + file_name, qt_read, path, expected)
            if halved(expected):
                check("QImageReader %s at half size" % file_name, qt_read, path, expected, True)

    def refused(reason, function, *args):
        try:
            function(*args)
        except GLib.Error as error:
            if error.domain != "gdk-pixbuf-error-quark" or reason not in error.message:
                return "%s: %s does not say %r" % (error.domain, error.message, reason)
            return None
        return "no error"

    def refusal(argv, reason):
        result = subprocess.run(argv, capture_output=True, text=True)
        return None if result.returncode == 1 and reason in result.stderr else "exit %d: %s" % (
            result.returncode, result.stderr.strip())

    sample = open(os.path.join(config["source"], "samples", "waves.vld"), "rb").read()
    for file_name, data in damaged(sample):
        path = os.path.join(pictures, file_name)
        with open(path, "wb") as f:
            f.write(data)
        info = subprocess.run([paths["vldtool"], "info", path], capture_output=True, text=True)
        reason = info.stderr.strip().rsplit(": ", 1)[-1]
        if file_name == "not-a-picture.vld":
            reason = ""  # gdk-pixbuf may refuse it itself, by content
        out = os.path.join(work, "damaged.png")
        check("vldtool rejects " + file_name, lambda: None if info.returncode == 1 else "no")
        check("GdkPixbuf rejects " + file_name, refused, reason, GdkPixbuf.Pixbuf.new_from_file,
              path)
        check("GdkPixbufLoader rejects %s in pieces" % file_name, refused, reason, in_pieces,
              data, 5, MIME_TYPE)
        check("thumbnailer rejects " + file_name, lambda: None if thumbnailer(
            path, 64, out).returncode > 0 and not os.path.exists(out) else "a thumbnail")
        check("QImageReader rejects %s, logging why" % file_name, refusal, [config["qt_read"], path,
                                                                           out], reason)

    def bounded_run(argv, reason):
        """A 256-pixel thumbnail of the bombs' even mix of colours, or the
        refusal with `reason`, in bounded time and memory."""
        problem, status, message = bounded(argv)
        if not problem and (reason or status):
            problem = None if reason and status and reason in message else "exit %d: %s" % (
                status, message.strip())
        if problem or reason:
            return problem
        got = png_rgb(out)
        # Spans of 63 or 64 pixels hold the four indices nearly evenly.
        mean = [sum(channel) / 4 for channel in zip(*map(grbi_to_rgb, BOMB_PALETTE))]
        if max(got.size) != 256 or any(abs(low - m) > 4 or abs(high - m) > 4 for (low, high), m
                                       in zip(got.getextrema(), mean)):
            return "%dx%d, colours %s" % (got.size + (got.getextrema(),))
        return None

    out = os.path.join(work, "bomb.png")
    bombs = {"bomb-wide.vld": (65535, 4091), "bomb-square.vld": (16376, 16376)}
    for name, data in [(n, bomb(*size)) for n, size in bombs.items()] + [
            ("cut-bomb.vld", bomb(65535, 4091)[:-1000])]:
        with open(os.path.join(pictures, name), "wb") as f:
            f.write(data)
    cut_reason = subprocess.run([paths["vldtool"], "info", os.path.join(pictures, "cut-bomb.vld")],
                                capture_output=True, text=True).stderr.strip().rsplit(": ", 1)[-1]
    runs = {"gdk-pixbuf-thumbnailer": lambda p, _: ["gdk-pixbuf-thumbnailer", "-s", "256", p, out],
            "the thumbnailer entry": lambda p, _: thumbnailer_argv(p, 256, out),
            "QImageReader at 256 pixels": lambda p, size: [config["qt_read"], "--scaled", "256x0"
                                                           if size[0] > size[1] else "0x256", p, out],
            "QImageReader whole": lambda p, _: [config["qt_read"], p, out]}
    cases = [(run, name, None) for name in bombs for run in list(runs)[:3]] + [
        ("QImageReader whole", name, "allocation limit") for name in bombs] + [
        (run, "cut-bomb.vld", cut_reason) for run in list(runs)[:2]]
    for run, name, reason in cases:
        check("%s: %s %s" % (name, run, "refuses: " + reason if reason else "256-pixel thumbnail"),
              bounded_run, runs[run](os.path.join(pictures, name), bombs.get(name)), reason)

    def size_query(name):
        started = time.monotonic()
        _, width, height = GdkPixbuf.Pixbuf.get_file_info(os.path.join(pictures, name))
        took = time.monotonic() - started
        return None if (width, height) == bombs[name] and took <= 0.01 else "%dx%d in %.3f s" % (
            width, height, took)
    for name in bombs:
        check("%s: GdkPixbuf size query" % name, size_query, name)


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/python3
"""The plug-ins in the programs that load them.

    consumers.py CONFIG               this build's plug-ins, registered privately
    consumers.py CONFIG --installed   what the installed package put on the system

GdkPixbuf opens every sample (as NAME.vld, NAME.tft and NAME without an
extension) whole, at a size, and fed in small pieces as an image viewer feeds
it; gdk-pixbuf-thumbnailer runs as the .thumbnailer entry says; GIO names the
type by content; QImageReader reads through Qt's plugins. Every picture must
come out exactly as `vldtool decode` draws it, and every damaged file must
give an error that names what `vldtool info` finds wrong with it.

CONFIG is the JSON file the build writes (tests/plugins/config.json). The
private registration lives in a scratch folder: a gdk-pixbuf loaders cache
(GDK_PIXBUF_MODULE_FILE), a MIME database and thumbnailer folder
(XDG_DATA_HOME) and the build's Qt plugin folder (QT_PLUGIN_PATH); nothing
outside it is written.
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

from PIL import Image

MIME_TYPE = "image/x-vld"
REGISTRATION_VARIABLES = ("GDK_PIXBUF_MODULE_FILE", "XDG_DATA_HOME", "QT_PLUGIN_PATH")


def private_registration(config, work):
    """Environment that makes this build's plug-ins known to their consumers."""
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
    return {"GDK_PIXBUF_MODULE_FILE": cache, "XDG_DATA_HOME": data,
            "QT_PLUGIN_PATH": config["qt_plugins"]}


def system_registration(work):
    """Environment that sees only what is installed on the system."""
    for name in REGISTRATION_VARIABLES:
        os.environ.pop(name, None)
    data = os.path.join(work, "empty-data")
    os.makedirs(data)
    return {"XDG_DATA_HOME": data}


def damage(picture):
    """Damaged copies of a picture file: (name, bytes)."""
    end = picture.index(b"\x1a")
    header = end + 1
    format3 = bytearray(picture)
    format3[header] = 3
    zero_width = bytearray(picture)
    zero_width[header + 5:header + 7] = b"\0\0"
    huge = bytearray(picture)
    huge[header + 5:header + 9] = struct.pack(">HH", 65535, 65535)
    return [
        ("truncated.vld", picture[:len(picture) * 2 // 3]),
        ("format3.vld", bytes(format3)),
        ("zero-width.vld", bytes(zero_width)),
        ("too-large.vld", bytes(huge)),
        ("open-comment.vld", picture[:end]),
        ("not-a-picture.vld", b"HK04" + picture[4:]),
    ]


def rgb_of_png(path):
    image = Image.open(path).convert("RGB")
    return image.size, image.tobytes()


def rgb_of_pixbuf(pixbuf):
    width, height = pixbuf.get_width(), pixbuf.get_height()
    channels, stride = pixbuf.get_n_channels(), pixbuf.get_rowstride()
    pixels = pixbuf.get_pixels()
    rows = []
    for y in range(height):
        row = pixels[y * stride:y * stride + width * channels]
        if channels == 4:
            row = bytes(b for i, b in enumerate(row) if i % 4 != 3)
        rows.append(bytes(row))
    return (width, height), b"".join(rows)


def compare(expected, got):
    """None when the two (size, RGB bytes) are the same picture, else how they differ."""
    (size, pixels), (got_size, got_pixels) = expected, got
    if size != got_size:
        return "size %dx%d, expected %dx%d" % (got_size + size)
    if pixels != got_pixels:
        first = next(i for i in range(len(pixels)) if pixels[i] != got_pixels[i]) // 3
        return "pixel (%d, %d) differs" % (first % size[0], first // size[0])
    return None


class Checks:
    def __init__(self):
        self.failed = []
        self.count = 0

    def run(self, name, function, *args):
        self.count += 1
        try:
            problem = function(*args)
        except Exception as error:  # a consumer that raises is a failure, not a crash of the test
            problem = "%s: %s" % (type(error).__name__, error)
        print("%s %s%s" % ("FAIL" if problem else "ok  ", name, ": " + problem if problem else ""))
        if problem:
            self.failed.append(name)


def main():
    config = json.load(open(sys.argv[1]))
    installed = sys.argv[2:] == ["--installed"]
    work = tempfile.mkdtemp(prefix="vld-plugins-")
    try:
        if installed:
            env = system_registration(work)
            thumbnailer = "/usr/share/thumbnailers/velinde.thumbnailer"
            mime_xml = "/usr/share/mime/packages/velinde.xml"
            loader = os.path.join(config["system_loaders"], "libpixbufloader-vld.so")
            vldtool = "/usr/bin/vldtool"
        else:
            env = private_registration(config, work)
            thumbnailer = config["thumbnailer"]
            mime_xml = config["mime_xml"]
            loader = config["loader"]
            vldtool = config["vldtool"]
        os.environ.update(env)
        os.environ["QT_QPA_PLATFORM"] = "offscreen"
        checks = Checks()
        run_all(checks, config, work, thumbnailer, mime_xml, loader, vldtool)
        print("%d checks, %d failed%s" % (checks.count, len(checks.failed),
                                          ": " + ", ".join(checks.failed) if checks.failed else ""))
        return 1 if checks.failed else 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


def run_all(checks, config, work, thumbnailer, mime_xml, loader, vldtool):
    # Imported only now, so that GdkPixbuf and GIO see the registration.
    import gi
    gi.require_version("GdkPixbuf", "2.0")
    from gi.repository import GdkPixbuf, GLib

    pictures = os.path.join(work, "pictures")
    os.makedirs(pictures)
    cases = []  # (file, reference (size, rgb))
    for sample in sorted(glob.glob(os.path.join(config["source"], "samples", "*.vld"))):
        name = os.path.splitext(os.path.basename(sample))[0]
        reference = os.path.join(work, name + ".png")
        subprocess.run([vldtool, "decode", sample, "-o", reference], check=True)
        expected = rgb_of_png(reference)
        for file_name in (name + ".vld", name + ".tft", name):
            path = os.path.join(pictures, file_name)
            shutil.copy(sample, path)
            cases.append((path, expected))

    entry = configparser.ConfigParser(interpolation=None)
    entry.read(thumbnailer)
    entry = entry["Thumbnailer Entry"]

    def registration():
        formats = [f for f in GdkPixbuf.Pixbuf.get_formats() if f.get_name() == "vld"]
        if len(formats) != 1:
            return "gdk-pixbuf knows %d loaders named vld" % len(formats)
        if formats[0].get_mime_types() != [MIME_TYPE]:
            return "loader's types %s" % formats[0].get_mime_types()
        if sorted(formats[0].get_extensions()) != ["tft", "vld"]:
            return "loader's extensions %s" % formats[0].get_extensions()
        if entry["MimeType"].strip(";").split(";") != [MIME_TYPE]:
            return "thumbnailer's types %s" % entry["MimeType"]
        with open(mime_xml) as xml:
            if 'type="%s"' % MIME_TYPE not in xml.read():
                return "the MIME XML names another type"
        exported = subprocess.run(["nm", "-D", "--defined-only", loader], capture_output=True,
                                  text=True, check=True).stdout.split()
        names = sorted(exported[2::3])
        if names != ["fill_info", "fill_vtable"]:
            return "the loader exports %s" % names
        return None

    def content_type(path):
        out = subprocess.run(["gio", "info", "-a", "standard::content-type", path],
                             capture_output=True, text=True, check=True).stdout
        found = [line.split(":", 3)[-1].strip() for line in out.splitlines()
                 if "standard::content-type:" in line]
        return None if found == [MIME_TYPE] else "gio says %s" % found

    def whole(path, expected):
        return compare(expected, rgb_of_pixbuf(GdkPixbuf.Pixbuf.new_from_file(path)))

    def at_size(path, expected):
        pixbuf = GdkPixbuf.Pixbuf.new_from_file_at_size(path, 16, 16)
        width, height = pixbuf.get_width(), pixbuf.get_height()
        want_w, want_h = expected[0]
        if max(width, height) != 16 or abs(width * want_h - height * want_w) > max(want_w, want_h):
            return "%dx%d at size 16 for a %dx%d picture" % (width, height, want_w, want_h)
        return None

    def in_pieces(data, piece, mime_type):
        loader = (GdkPixbuf.PixbufLoader.new_with_mime_type(mime_type) if mime_type
                  else GdkPixbuf.PixbufLoader())
        events = []
        loader.connect("size-prepared", lambda _, w, h: events.append("size"))
        loader.connect("area-prepared", lambda _: events.append("prepared"))
        loader.connect("area-updated", lambda _, x, y, w, h: events.append((x, y, w, h)))
        # A failed write closes the loader itself.
        for start in range(0, len(data), piece):
            loader.write(data[start:start + piece])
        loader.close()
        return loader.get_pixbuf(), events

    def incremental(path, expected, piece, mime_type):
        pixbuf, events = in_pieces(open(path, "rb").read(), piece, mime_type)
        width, height = expected[0]
        if events[:2] != ["size", "prepared"]:
            return "signals %s" % events[:2]
        covered = bytearray(width * height)
        for x, y, w, h in events[2:]:
            for row in range(y, y + h):
                covered[row * width + x:row * width + x + w] = b"\1" * w
        if 0 in covered:
            return "area-updated leaves pixels out"
        return compare(expected, rgb_of_pixbuf(pixbuf))

    def thumbnail(path, expected, size):
        out = os.path.join(work, "thumbnail.png")
        if os.path.exists(out):
            os.remove(out)
        command = [word.replace("%s", str(size)).replace("%u", GLib.filename_to_uri(path))
                   .replace("%o", out) for word in entry["Exec"].split()]
        subprocess.run(command, check=True, capture_output=True)
        if size >= max(expected[0]):
            return compare(expected, rgb_of_png(out))
        got = Image.open(out).size
        return None if max(got) == size else "thumbnail %dx%d at size %d" % (got + (size,))

    def qt_read(path, expected):
        out = os.path.join(work, "qt.png")
        result = subprocess.run([config["qt_read"], path, out], capture_output=True, text=True)
        if result.returncode != 0:
            return "QImageReader: %s" % result.stderr.strip()
        if result.stdout.split()[0] not in ("vld", "tft"):
            return "read as %s" % result.stdout.strip()
        return compare(expected, rgb_of_png(out))

    def qt_formats():
        formats = subprocess.run([config["qt_read"], "--formats"], capture_output=True,
                                 text=True, check=True).stdout.split()
        return None if {"vld", "tft"} <= set(formats) else "Qt reads only %s" % formats

    checks.run("registration: loader, MIME type and thumbnailer agree", registration)
    checks.run("Qt lists vld and tft", qt_formats)
    for path, expected in cases:
        name = os.path.basename(path)
        size = max(expected[0])
        checks.run("gio type of %s" % name, content_type, path)
        checks.run("GdkPixbuf %s" % name, whole, path, expected)
        checks.run("GdkPixbuf %s at size 16" % name, at_size, path, expected)
        for piece, mime_type in ((1, None), (7, MIME_TYPE), (4096, None)):
            checks.run("GdkPixbufLoader %s in %d-byte pieces%s" %
                       (name, piece, " as " + mime_type if mime_type else ""),
                       incremental, path, expected, piece, mime_type)
        checks.run("thumbnailer %s at %d" % (name, size), thumbnail, path, expected, size)
        checks.run("thumbnailer %s at %d" % (name, size // 2), thumbnail, path, expected,
                   size // 2)
        checks.run("QImageReader %s" % name, qt_read, path, expected)

    # Damaged files: GdkPixbuf gives an error naming what vldtool finds wrong
    # (an unrecognised file at least the gdk-pixbuf error), and nothing crashes.
    sample = open(os.path.join(config["source"], "samples", "waves.vld"), "rb").read()
    for file_name, data in damage(sample):
        path = os.path.join(pictures, file_name)
        with open(path, "wb") as f:
            f.write(data)
        info = subprocess.run([vldtool, "info", path], capture_output=True, text=True)
        reason = info.stderr.strip().rsplit(": ", 1)[-1]

        def refused(function, *args, reason=reason):
            try:
                function(*args)
            except GLib.Error as error:
                if error.domain != "gdk-pixbuf-error-quark":
                    return "error from %s: %s" % (error.domain, error.message)
                if file_name != "not-a-picture.vld" and reason not in error.message:
                    return "message %r does not say %r" % (error.message, reason)
                return None
            return "no error"

        def thumbnail_refused(path):
            out = os.path.join(work, "damaged.png")
            command = [word.replace("%s", "64").replace("%u", GLib.filename_to_uri(path))
                       .replace("%o", out) for word in entry["Exec"].split()]
            result = subprocess.run(command, capture_output=True)
            if result.returncode <= 0 or os.path.exists(out):
                return "exit status %d, thumbnail %s" % (result.returncode, os.path.exists(out))
            return None

        def qt_refused(path):
            result = subprocess.run([config["qt_read"], path, os.path.join(work, "damaged.png")],
                                    capture_output=True, text=True)
            return None if result.returncode == 1 else "exit status %d" % result.returncode

        checks.run("vldtool rejects %s" % file_name,
                   lambda: None if info.returncode == 1 and reason else "vldtool accepts it")
        checks.run("GdkPixbuf rejects %s" % file_name, refused,
                   GdkPixbuf.Pixbuf.new_from_file, path)
        checks.run("GdkPixbufLoader rejects %s in pieces" % file_name, refused,
                   in_pieces, data, 5, MIME_TYPE)
        checks.run("thumbnailer rejects %s" % file_name, thumbnail_refused, path)
        checks.run("QImageReader rejects %s" % file_name, qt_refused, path)


if __name__ == "__main__":
    sys.exit(main())

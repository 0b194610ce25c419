#!/usr/bin/python3
"""The Windows release as a user gets it: the zip made by CPack, unpacked
into a folder whose name holds a space and Japanese characters, on a fresh
Wine prefix's drive C:, and used from there.

    package.py --build BUILD_DIR --source SOURCE_DIR --cpack CPACK
"""

import argparse
import glob
import json
import os
import subprocess
import sys
import time
import zipfile

from PIL import Image

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import (Failure, Run, Session, check, grbi_to_rgb, picture_matches,  # noqa: E402
                     place, windows_path)

FOLDER = "Velinde 配布 テスト"
COPYRIGHT = "Copyright (c) 2026 the Velinde for Win developers"


def make_package(options, work):
    """Runs CPack as `--target package` does, into `work`."""
    subprocess.run([options.cpack, "-G", "ZIP", "--config", os.path.join(options.build, "CPackConfig.cmake"),
                    "-B", work], check=True, stdout=subprocess.DEVNULL, timeout=120)
    zips = glob.glob(os.path.join(work, "velinde-*-win64.zip"))
    check(len(zips) == 1, "CPack made %s" % zips)
    return zips[0]


def unpack(path, samples, destination):
    """Checks that the zip holds exactly what a user needs, no test program,
    and unpacks it; returns the release folder."""
    top = os.path.basename(path)[:-len(".zip")]
    with zipfile.ZipFile(path) as archive:
        names = {n for n in archive.namelist() if not n.endswith("/")}
        expected = {top + "/" + n for n in ("velinde.exe", "vldtool.exe", "vldwic.dll",
                                           "README.txt", "LICENSE.txt")}
        expected |= {top + "/samples/" + n for n in samples}
        check(names == expected, "zip holds %s, expected %s" % (sorted(names), sorted(expected)))
        archive.extractall(destination)
    return os.path.join(destination, top)


def c_path(session, path):
    drive_c = os.path.join(session.prefix, "drive_c")
    return "C:\\" + os.path.relpath(path, drive_c).replace("/", "\\")


def vldtool(session, release, *arguments):
    """Runs the unpacked vldtool.exe in the release folder; returns (exit
    status, stdout bytes, stderr text). Output goes through files, since
    Wine's helper processes would keep a pipe open."""
    out = os.path.join(session.work, "vldtool-%d.out" % session.count)
    err = out[:-4] + ".err"
    session.count += 1
    with open(out, "wb") as o, open(err, "wb") as e:
        code = subprocess.run(["wine", os.path.join(release, "vldtool.exe"), *arguments],
                              env=session.env(), cwd=release, stdout=o, stderr=e,
                              stdin=subprocess.DEVNULL, timeout=60).returncode
    with open(out, "rb") as o, open(err, encoding="utf-8", errors="replace") as e:
        return code, o.read(), e.read()


def check_resources(session, release, program, descriptions):
    """Version information in Japanese and English, the icon and the manifest,
    as Windows reads them from the unpacked program."""
    text = session.probe("resources", c_path(session, os.path.join(release, program)))
    version = os.path.basename(release).split("-")[1]
    expected = {"fixed file=%s.0 product=%s.0 type=1" % (version, version), "icon 103"}
    for language, description in zip(("0411", "0409"), descriptions):
        expected.add("translation %s 1200" % language)
        for name, value in (("FileDescription", description), ("FileVersion", version),
                            ("ProductVersion", version), ("ProductName", "Velinde for Win"),
                            ("OriginalFilename", program),
                            ("LegalCopyright", COPYRIGHT)):
            expected.add("string %s %s=%s" % (language, name, value))
    missing = expected - set(text.splitlines())
    check(not missing, "%s: resources lack %s" % (program, sorted(missing)))
    for needed in ("\nmanifest bytes=", "Microsoft.Windows.Common-Controls", ">PerMonitorV2",
                   ">true/pm<", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"):
        check(needed in text, "%s: no manifest with %s" % (program, needed))


def check_vldtool(session, release, names):
    """info, decode and encode from the release folder: each sample decoded
    and encoded again with what info says of it gives the very same file.
    Returns each sample's info and decoded indices for the screen check."""
    paths = ["samples\\" + n for n in names]
    code, out, err = vldtool(session, release, "info", "--json", *paths)
    check(code == 0, "vldtool info: exit %d: %s" % (code, err))
    infos = json.loads(out.decode("utf-8"))
    check([i["file"] for i in infos] == paths and all(i["ok"] for i in infos),
          "vldtool info: %s" % infos)
    output = os.path.join(release, "変換 結果")
    os.makedirs(output)
    pictures = {}
    for name, info in zip(names, infos):
        stem = name.rsplit(".", 1)[0]
        png = "変換 結果\\%s.png" % stem
        code, _, err = vldtool(session, release, "decode", "samples\\" + name, "-o", png)
        check(code == 0, "vldtool decode %s: exit %d: %s" % (name, code, err))
        image = Image.open(os.path.join(output, stem + ".png"))
        image.load()
        check(image.mode == "P" and image.size == (info["width"], info["height"]),
              "decode %s: %s %s" % (name, image.mode, image.size))
        colours = [grbi_to_rgb(p["word"]) for p in info["palette"]]
        palette = image.getpalette()[:12]
        check([tuple(palette[i:i + 3]) for i in range(0, 12, 3)] == colours,
              "decode %s: palette %s, expected %s" % (name, palette, colours))
        indices = [[image.getpixel((x, y)) for x in range(image.width)]
                   for y in range(image.height)]
        pictures[(info["width"], info["height"])] = (name, info, indices)

        copy = "変換 結果\\%s.vld" % stem
        code, _, err = vldtool(
            session, release, "encode", png, "-o", copy,
            "--anchor", "%d,%d" % tuple(info["anchor"]), "--comment", info["comment"],
            "--palette", ",".join(str(p["word"]) for p in info["palette"]))
        check(code == 0, "vldtool encode %s: exit %d: %s" % (name, code, err))
        with open(os.path.join(release, "samples", name), "rb") as a, \
                open(os.path.join(output, stem + ".vld"), "rb") as b:
            check(a.read() == b.read(), "encode %s: not the same file again" % name)
    check(len(pictures) == len(names), "two samples of one size: the screen check needs them apart")
    return pictures


def check_viewer(session, release, pictures):
    """velinde.exe started on the samples folder, as when the folder is
    dropped on it: one of the samples, pixel for pixel, at its anchor."""
    result = session.result_file("launch")
    process = session._wine(session.probe_exe, "launch", windows_path(result),
                            c_path(session, release), c_path(session, os.path.join(release,
                                                                               "velinde.exe")),
                            "/w30", '"%s"' % c_path(session, os.path.join(release, "samples")),
                            wait=False)
    run = Run(session, result, process)
    window = run.wait_window()
    check(window.client_size in pictures, "window of no sample's size: %r" % window)
    name, info, indices = pictures[window.client_size]
    width, height = window.client_size
    corner = (place(session.width, info["anchor"][0], width, 768),
              place(session.height, info["anchor"][1], height, 512))
    check(window.rect[:2] == corner, "%s at %s, expected %s" % (name, window.rect[:2], corner))
    colours = [p["word"] for p in info["palette"]]
    wrong, first = picture_matches(session.screenshot(), window.client_origin, indices, colours)
    check(wrong == 0, "%s: %d pixels differ; first %s" % (name, wrong, first))
    code, _ = run.exit(timeout=20)
    check(code == 0, "viewer exit code %d" % code)
    return name


def check_codec(session, release):
    """The zip's vldwic.dll, registered and unregistered by hand from the
    release folder as its README says; a WIC program reads a sample only in
    between."""
    result = os.path.join(session.work, "wic.txt")
    sample = c_path(session, os.path.join(release, "samples", "heart.vld"))

    def run(*arguments):
        code = subprocess.run(["wine", *arguments], env=session.env(), cwd=release,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              stdin=subprocess.DEVNULL, timeout=60).returncode
        check(code == 0, "%s: exit %d" % (" ".join(arguments), code))

    def decoded():
        run(os.path.join(session.bin, "vld_wic_decode.exe"), windows_path(result), sample)
        with open(result, encoding="utf-8") as f:
            return " ok decoder=Velinde picture decoder " in f.read()

    check(not decoded(), "WIC reads a picture before vldwic.dll is registered")
    run("regsvr32", "/s", "vldwic.dll")
    check(decoded(), "WIC cannot read a picture after regsvr32 vldwic.dll")
    run("regsvr32", "/u", "/s", "vldwic.dll")
    check(not decoded(), "WIC still reads a picture after regsvr32 /u vldwic.dll")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("--cpack", required=True)
    options = parser.parse_args()
    started = time.time()
    samples = sorted(os.path.basename(p) for p in glob.glob(os.path.join(options.source, "samples",
                                                                         "*.vld")))
    try:
        with Session(options.build, 1024, 768, fresh_prefix=True) as session:
            package = make_package(options, os.path.join(session.work, "package"))
            release = unpack(package, samples, os.path.join(session.prefix, "drive_c", FOLDER))
            check_resources(session, release, "velinde.exe",
                            ("Velinde for Win 画像ビューア", "Velinde for Win picture viewer"))
            check_resources(session, release, "vldtool.exe",
                            ("Velinde for Win 画像ファイルツール", "Velinde for Win picture file tool"))
            pictures = check_vldtool(session, release, samples)
            shown = check_viewer(session, release, pictures)
            check_codec(session, release)
    except (Failure, subprocess.SubprocessError) as failure:
        print("FAIL package: %s" % failure)
        return 1
    print("ok package (%s shown, %.1f s)" % (shown, time.time() - started))
    return 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/python3
"""The Windows installer as a user runs it, on a fresh Wine prefix: a silent
install; then WIC reading pictures through the installed codec, pixel for
pixel against `vldtool decode`; `wine start` on a picture showing it in the
viewer; the registry holding the codec, the association and the thumbnail
entries; and a silent uninstall, started from what Apps & features reads,
leaving no file, key or value behind. Installing again into another folder
takes the first install away, and an uninstaller left in a folder the
program moved away from removes nothing of the new install; an uninstall
while another program owns .vld keeps what that program relies on.

    wic_install.py --build BUILD_DIR --source SOURCE_DIR --cpack CPACK --vldtool VLDTOOL
"""

import argparse
import glob
import os
import random
import re
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from harness import (Failure, Session, check, grbi_to_rgb, make_picture,  # noqa: E402
                     picture_matches, read_picture, windows_path)

DECODER = "{c532b2a5-0c73-4e8d-ab7a-19c2257b66c5}"
THUMBNAIL_PROVIDER = "{C7657C4A-9F68-40fa-A4DF-96BC08EB3551}"
FORMAT_2BPP_INDEXED = "{6FDDC324-4E03-4BFE-B185-3D77768DC902}"
INSTALL = "C:\\Program Files\\Velinde for Win"
ELSEWHERE = "C:\\Program Files\\テスト ビューア 1"
UNINSTALL_KEY = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" \
    "Velinde for Win"
CLASSES = "HKEY_LOCAL_MACHINE\\Software\\Classes\\"
# Anything of ours, in a key's path or a value, once the uninstaller is done.
OURS = re.compile(r"velinde|vldwic|\.vld\b|\.tft\b|image/x-vld|" + DECODER[1:-1], re.I)
# Errors WIC gives for a damaged picture or none at all.
BAD_IMAGE, BAD_HEADER, NOT_FOUND = "0x88982F60", "0x88982F61", "0x88982F50"
TOO_LARGE = "0x88982F51"


class InstallSession(Session):
    """Wine's menu builder would copy the Start menu entries into this
    machine's own desktop menus; a test must change nothing outside its
    prefix."""

    def env(self):
        env = super().env()
        env["WINEDLLOVERRIDES"] += ";winemenubuilder.exe=d"
        return env


def wine(session, *arguments, timeout=120):
    process = session._wine(*arguments, timeout=timeout)
    return process.returncode


def command(session, line):
    """`line` as typed at a command prompt: NSIS reads /D= and _?= from the
    raw command line, unquoted, which only cmd passes on as typed."""
    path = os.path.join(session.work, "command-%d.bat" % session.count)
    with open(path, "wb") as f:
        f.write(("@%s\r\n@exit /b %%errorlevel%%\r\n" % line).encode("cp932"))
    return wine(session, "cmd", "/c", windows_path(path))


def unix_path(session, windows):
    check(windows[:3].upper() == "C:\\", "not on drive C: %s" % windows)
    return os.path.join(session.prefix, "drive_c", *windows[3:].split("\\"))


def registry(session):
    """The whole registry as {key: {value name: text}}, names lower-cased
    (`@` for a key's default value), read back through regedit as a program
    would see it."""
    path = os.path.join(session.work, "registry-%d.reg" % session.count)
    check(wine(session, "regedit", "/E", "Z:" + path.replace("/", "\\")) == 0, "regedit /E failed")
    with open(path, "rb") as f:
        data = f.read()
    text = data.decode("utf-16" if data[:2] == b"\xff\xfe" else "utf-8", errors="replace")
    text = re.sub(r"\\\r?\n\s*", "", text)  # values continued over lines
    keys, current = {}, None
    for line in text.splitlines():
        if line.startswith("[") and line.endswith("]"):
            current = keys.setdefault(line[1:-1].lower(), {})
        elif current is not None and "=" in line:
            m = re.match(r'(@|"(?:[^"\\]|\\.)*")=(.*)', line)
            if m:
                name = m.group(1)
                name = "@" if name == "@" else name[1:-1].replace('\\"', '"').replace("\\\\", "\\")
                value = m.group(2)
                if value.startswith('"'):
                    value = value[1:-1].replace('\\"', '"').replace("\\\\", "\\")
                current[name.lower()] = value
    return keys


def value(keys, key, name="@"):
    return keys.get(key.lower(), {}).get(name.lower())


def files(session):
    """Every file and folder on drive C:."""
    root = os.path.join(session.prefix, "drive_c")
    return {os.path.relpath(os.path.join(directory, n), root)
            for directory, folders, names in os.walk(root) for n in folders + names}


def install(session, setup):
    before = (files(session), registry(session))
    started = time.time()
    check(wine(session, setup, "/S") == 0, "the installer failed")
    took = time.time() - started
    # Installing again first takes the installed copy away.
    check(wine(session, setup, "/S") == 0, "the installer failed over an installed copy")
    check_files(session, INSTALL)
    return before, took


def check_files(session, folder):
    installed = unix_path(session, folder)
    got = {os.path.relpath(p, installed) for p in glob.glob(installed + "/**", recursive=True)
           if os.path.isfile(p)}
    samples = {"samples/" + os.path.basename(p) for p in glob.glob(os.path.join(
        session.source, "samples", "*.vld"))}
    expected = {"velinde.exe", "vldtool.exe", "vldwic.dll", "README.txt", "LICENSE.txt",
                "Uninstall.exe"} | samples
    check(got == expected, "installed %s, expected %s" % (sorted(got), sorted(expected)))
    for name in ("velinde.exe", "vldtool.exe", "vldwic.dll"):
        with open(os.path.join(installed, name), "rb") as a, \
                open(os.path.join(session.build_dir, "bin", name), "rb") as b:
            check(a.read() == b.read(), "installed %s is not the built one" % name)
    menu = unix_path(session, "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\"
                              "Velinde for Win")
    links = sorted(os.listdir(menu)) if os.path.isdir(menu) else []
    check(links == ["Uninstall.lnk", "Velinde for Win.lnk"], "Start menu folder holds %s" % links)


def reinstall_elsewhere(session, setup):
    """The install moved to another folder leaves nothing in the first; the
    uninstaller an older installer left there, run in place, takes nothing
    of the new install away."""
    first = unix_path(session, INSTALL)
    stale = os.path.join(session.work, "Uninstall.exe")
    shutil.copy(os.path.join(first, "Uninstall.exe"), stale)
    check(command(session, '"%s" /S /D=%s' % (windows_path(setup), ELSEWHERE)) == 0,
          "the installer failed with /D=" + ELSEWHERE)
    check(not os.path.exists(first), "left in %s: %s" % (INSTALL, glob.glob(first + "/*")))
    os.makedirs(first)
    shutil.copy(stale, first)
    check(command(session, '"%s\\Uninstall.exe" /S _?=%s' % (INSTALL, INSTALL)) == 0,
          "the stale uninstaller failed")
    shutil.rmtree(first)
    check_files(session, ELSEWHERE)
    check_registry(registry(session), ELSEWHERE)


def check_registry(keys, folder):
    """The codec, the association and Explorer's entries, as installed."""
    viewer = folder + "\\velinde.exe"
    decoder_key = CLASSES + "CLSID\\" + DECODER
    expected = [
        (decoder_key + "\\InprocServer32", "@", folder + "\\vldwic.dll"),
        (decoder_key + "\\InprocServer32", "ThreadingModel", "Both"),
        (decoder_key, "FileExtensions", ".vld,.tft"),
        (decoder_key, "MimeTypes", "image/x-vld"),
        (decoder_key + "\\Patterns\\0", "Pattern", "hex:48,4b,30,33"),
        (decoder_key + "\\Formats\\" + FORMAT_2BPP_INDEXED, "@", ""),
        (CLASSES + "CLSID\\{7ED96837-96F0-4812-B211-F13C24117ED3}\\Instance\\" + DECODER,
         "CLSID", DECODER),
        (CLASSES + "Velinde.Picture\\shell\\open\\command", "@", '"%s" "%%1"' % viewer),
        (CLASSES + "Velinde.Picture\\DefaultIcon", "@", viewer + ",0"),
        (UNINSTALL_KEY, "DisplayName", "Velinde for Win 1.0.0"),
        (UNINSTALL_KEY, "UninstallString", '"%s\\Uninstall.exe"' % folder),
        (UNINSTALL_KEY, "QuietUninstallString", '"%s\\Uninstall.exe" /S' % folder),
        (UNINSTALL_KEY, "DisplayIcon", viewer),
    ]
    for extension in (".vld", ".tft"):
        expected += [
            (CLASSES + extension, "@", "Velinde.Picture"),
            (CLASSES + extension, "PerceivedType", "image"),
            (CLASSES + extension, "Content Type", "image/x-vld"),
            (CLASSES + extension + "\\ShellEx\\{e357fccd-a995-4576-b01f-234630154e96}", "@",
             THUMBNAIL_PROVIDER),
            ("HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\KindMap",
             extension, "picture"),
        ]
    wrong = ["%s [%s] = %r, expected %r" % (k, n, value(keys, k, n), v)
             for k, n, v in expected if (value(keys, k, n) or "").lower() != v.lower()]
    check(not wrong, "registry:\n  " + "\n  ".join(wrong))


def pictures(session, vldtool):
    """Pictures on drive C: under the names a user gives them, with what
    WIC must report for each: a picture (anchor, indices, palette) or an
    error."""
    folder = unix_path(session, "C:\\pictures")
    os.makedirs(folder)
    cases = {}
    for path in sorted(glob.glob(os.path.join(session.source, "samples", "*.vld"))):
        shutil.copy(path, folder)
        cases[os.path.basename(path)] = read_picture(vldtool, path)
    # By content, whatever the name; an odd width leaves a part-filled last
    # byte in every row of the 2-bit output.
    rng = random.Random(7)
    rows = [[rng.randrange(4) for _ in range(37)] for _ in range(13)]
    make_picture(os.path.join(folder, "odd width.tft"), b"", (0, 0), rows,
                 [0x0000, 0xFFFF, 0x07C0, 0x003E])
    make_picture(os.path.join(folder, "no extension"), b"x", (5, 5), rows[:1], [1, 2, 3, 4])
    for name in ("odd width.tft", "no extension"):
        cases[name] = read_picture(vldtool, os.path.join(folder, name))
    with open(os.path.join(folder, "waves.vld"), "rb") as f:
        whole = f.read()
    damaged = {"cut.vld": (whole[:len(whole) // 2], BAD_IMAGE),
               "no comment end.vld": (b"HK03" + b"a" * 40, BAD_HEADER),
               "not a picture.vld": (b"HK04" + whole[4:], NOT_FOUND)}
    for name, (data, error) in damaged.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
        cases[name] = error
    # A good start but 256 MiB long: refused by its size, not read (sparse,
    # so it costs no disk).
    with open(os.path.join(folder, "huge.vld"), "wb") as f:
        f.write(whole)
        f.truncate(256 << 20)
    cases["huge.vld"] = TOO_LARGE
    return cases


def check_wic(session, cases):
    result = os.path.join(session.work, "wic.txt")
    names = ["C:\\pictures\\" + n for n in cases]
    check(wine(session, os.path.join(session.build_dir, "bin", "vld_wic_decode.exe"),
               "Z:" + result.replace("/", "\\"), *names) == 0, "vld_wic_decode failed")
    with open(result, encoding="utf-8") as f:
        lines = f.read().splitlines()
    check(len(lines) == len(names), "wic_decode wrote %d lines for %d files" % (len(lines),
                                                                                  len(names)))
    for line, (name, case) in zip(lines, cases.items()):
        fields = dict(re.findall(r" (\w+)=(Velinde picture decoder|\S+)", line))
        if isinstance(case, str):
            check(fields.get("error") == case, "%s: %s, expected error=%s" % (name, line[:200], case))
            continue
        _, indices, palette = case
        colours = [grbi_to_rgb(w) for w in palette]
        expected = {
            "decoder": "Velinde picture decoder", "format": FORMAT_2BPP_INDEXED,
            "size": "%dx%d" % (len(indices[0]), len(indices)),
            "palette": ",".join("FF%02X%02X%02X" % c for c in colours),
            "pixels": "".join(str(i) for row in indices for i in row),
        }
        if len(indices) > 2 and len(indices[0]) > 2:
            expected["rect"] = "same"
        if len(indices[0]) > 4:
            expected["bounds"] = "refused"
        wrong = [k for k, v in expected.items() if fields.get(k, "").upper() != v.upper()]
        check(not wrong, "%s: WIC differs in %s: %s" % (name, wrong, line[:300]))


def check_start(session, cases, keep):
    """`wine start` on a picture: the association starts the viewer, which
    shows that very picture."""
    name = "sakura.vld"
    _, indices, palette = cases[name]
    check(wine(session, "start", "C:\\pictures\\" + name) == 0, "wine start failed")
    window = session.wait_for(session.window, timeout=30, what="the viewer's window")
    size = (len(indices[0]), len(indices))
    check(window.client_size == size, "window of %s, %s is %s" % (window.client_size, name, size))
    time.sleep(0.5)
    wrong, first = picture_matches(session.screenshot(keep=keep), window.client_origin, indices,
                                   palette)
    check(wrong == 0, "%s: %d pixels differ on the screen; first %s" % (name, wrong, first))
    # Opened with no options, it closes by itself after ten seconds; no
    # input, which a loaded machine may deliver too late.
    session.wait_for(lambda: session.window() is None, timeout=30, what="the viewer to close")


def uninstall(session, keys, before):
    """The quiet uninstall command that Apps & features holds, with .vld
    since taken over by another program: then nothing of ours left on drive
    C: or in the registry, but for what the other program relies on."""
    check(wine(session, "reg", "add", CLASSES + ".vld", "/ve", "/d", "Other.Picture", "/f") == 0,
          "reg add failed")
    quiet = value(keys, UNINSTALL_KEY, "QuietUninstallString")
    m = re.fullmatch(r'"([^"]+)" (.*)', quiet or "")
    check(m, "no quiet uninstall command: %r" % quiet)
    check(wine(session, m.group(1), *m.group(2).split()) == 0, "the uninstaller failed")
    files_before, keys_before = before
    taken = (CLASSES + ".vld").lower()
    # NSIS's uninstaller runs on from a copy of itself in the temporary
    # folder, which goes at the next restart: wait for everything else to
    # go, then restart the prefix as Windows would.
    temporary = re.compile(r"users/[^/]+/Temp/~nsu", re.I)
    end = time.time() + 60
    while True:
        added = {f for f in files(session) - files_before if not temporary.match(f)}
        keys_after = registry(session)
        ours = ["%s [%s] = %s" % (k, n, v) for k, values in keys_after.items()
                for n, v in list(values.items()) + [("", "")]
                if (OURS.search(k) or OURS.search(v)) and not k.startswith(taken)]
        if not (added or ours) or time.time() > end:
            break
        time.sleep(1)
    check(not ours, "left in the registry:\n  " + "\n  ".join(sorted(set(ours))[:20]))
    kept = [(taken, "@", "Other.Picture"), (taken, "PerceivedType", "image"),
            (taken, "Content Type", "image/x-vld"),
            (taken + "\\shellex\\{e357fccd-a995-4576-b01f-234630154e96}", "@", THUMBNAIL_PROVIDER)]
    lost = ["%s [%s]" % (k, n) for k, n, v in kept if (value(keys_after, k, n) or "").lower()
            != v.lower()]
    check(not lost, "the uninstaller took from the other program: %s" % lost)
    gone = [k for k in keys_before if k not in keys_after and k.startswith(CLASSES.lower())]
    check(not gone, "the uninstaller removed keys it did not make: %s" % gone[:10])
    check(wine(session, "wineboot", "-r") == 0, "wineboot -r failed")
    # Only the empty folder that held NSIS's copy may stay.
    root = os.path.join(session.prefix, "drive_c")
    added = {f for f in files(session) - files_before
             if not (temporary.match(f) and os.path.isdir(os.path.join(root, f))
                     and not os.listdir(os.path.join(root, f)))}
    check(not added, "left on drive C: %s" % sorted(added))


def make_installer(options, work):
    subprocess.run([options.cpack, "-G", "NSIS", "--config",
                    os.path.join(options.build, "CPackConfig.cmake"), "-B", work], check=True,
                   stdout=subprocess.DEVNULL, timeout=180)
    found = glob.glob(os.path.join(work, "velinde-*-win64-setup.exe"))
    check(len(found) == 1, "CPack made %s" % found)
    return found[0]


def main():
    parser = argparse.ArgumentParser()
    for name in ("build", "source", "cpack", "vldtool"):
        parser.add_argument("--" + name, required=True)
    options = parser.parse_args()
    started = time.time()
    keep = os.path.join(os.path.abspath(options.build), "tests", "plugins", "wine-start.png")
    steps = []
    try:
        with InstallSession(options.build, 1024, 768, fresh_prefix=True) as session:
            session.source = os.path.abspath(options.source)
            setup = make_installer(options, os.path.join(session.work, "package"))
            before, took = install(session, setup)
            steps.append("install %.1f s" % took)
            check_registry(registry(session), INSTALL)
            reinstall_elsewhere(session, setup)
            steps.append("reinstall elsewhere")
            keys = registry(session)
            cases = pictures(session, options.vldtool)
            check_wic(session, cases)
            steps.append("WIC %d files" % len(cases))
            check_start(session, cases, keep)
            steps.append("wine start")
            shutil.rmtree(unix_path(session, "C:\\pictures"))
            uninstall(session, keys, before)
            steps.append("uninstall")
    except (Failure, subprocess.SubprocessError) as failure:
        print("FAIL plugins_wic_install after [%s]: %s" % (", ".join(steps), failure))
        return 1
    print("ok plugins_wic_install (%s; %.1f s; screenshot %s)" % (", ".join(steps),
                                                                  time.time() - started, keep))
    return 0


if __name__ == "__main__":
    sys.exit(main())

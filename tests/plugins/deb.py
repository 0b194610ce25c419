#!/usr/bin/python3
"""Installs the built Debian package for real, uses it, removes it.

    deb.py CONFIG

Takes the package the build made (making it first with `--target package`
when it is missing or older than a file it holds), installs it with dpkg, and checks
that Debian's triggers registered it: the consumers open the pictures with no
private registration (consumers.py --installed), the manual page is found,
and a C program builds against libvld through pkg-config and runs. Then
`dpkg -r` must leave the package's folders and the caches the triggers
rewrote (gdk-pixbuf's loaders cache, the MIME database, ld.so.cache) exactly
as they were. Needs root; exits 77 (skipped) without it, or when a velinde
package is already installed, which this test would take away.
"""

import hashlib
import json
import os
import subprocess
import sys
import tempfile
import time

CACHES = ["/etc/ld.so.cache", "/usr/share/mime"]


def run(command, **options):
    return subprocess.run(command, capture_output=True, text=True, **options)


def dpkg(*arguments):
    """dpkg, waiting while another package tool holds the lock."""
    for _ in range(60):
        result = run(["dpkg"] + list(arguments))
        if result.returncode == 0 or "lock" not in result.stderr:
            return result
        time.sleep(2)
    return result


def installed():
    """The package's dpkg status when it is installed, else None."""
    result = run(["dpkg-query", "-W", "-f", "${Status}", "velinde"])
    return result.stdout if "installed" in result.stdout.split() else None


def snapshot(folders, caches):
    """What the package may touch: its folders' listings and the caches' bytes."""
    state = {}
    for folder in folders:
        state[folder] = sorted(os.listdir(folder)) if os.path.isdir(folder) else None
    for cache in caches:
        paths = [cache]
        if os.path.isdir(cache):
            paths = sorted(os.path.join(top, name) for top, _, names in os.walk(cache)
                           for name in names)
        for path in paths:
            with open(path, "rb") as f:
                state[path] = hashlib.sha256(f.read()).hexdigest()
    return state


def use_library(work):
    source = os.path.join(work, "use.c")
    with open(source, "w") as f:
        f.write('#include <stdio.h>\n#include "vld.h"\n'
                'int main(void) { puts(vld_version()); return 0; }\n')
    flags = run(["pkg-config", "--cflags", "--libs", "vld"])
    if flags.returncode != 0:
        return "pkg-config vld: " + flags.stderr.strip()
    program = os.path.join(work, "use")
    built = run(["cc", source, "-o", program] + flags.stdout.split())
    if built.returncode != 0:
        return "cc: " + built.stderr.strip()
    ran = run([program])
    return None if ran.returncode == 0 and ran.stdout.strip() else "the program failed"


def main():
    config = json.load(open(sys.argv[1]))
    if os.geteuid() != 0:
        print("skipped: installing a package needs root")
        return 77
    if installed():
        print("skipped: a velinde package is installed (%s)" % installed())
        return 77
    inputs = [config[key] for key in ("loader", "qt_plugin", "library", "vldtool", "mime_xml",
                                      "thumbnailer")]
    inputs.append(os.path.join(config["build"], "CPackConfig.cmake"))
    if not os.path.isfile(config["deb"]) or any(
            os.path.getmtime(path) > os.path.getmtime(config["deb"]) for path in inputs):
        built = run(["cmake", "--build", config["build"], "--target", "package"])
        if built.returncode != 0 or not os.path.isfile(config["deb"]):
            print(built.stdout + built.stderr)
            print("FAIL: the package was not built")
            return 1
    listing = run(["dpkg-deb", "-c", config["deb"]], check=True).stdout.splitlines()
    files = [line.split()[5][1:] for line in listing if not line.endswith("/")]
    folders = sorted({os.path.dirname(path) for path in files})
    caches = CACHES + [os.path.join(os.path.dirname(config["system_loaders"]), "loaders.cache")]
    before = snapshot(folders, caches)

    problems = []
    result = dpkg("-i", config["deb"])
    try:
        if result.returncode != 0:
            problems.append("dpkg -i: " + result.stderr.strip())
        else:
            missing = [path for path in files if not os.path.lexists(path)]
            if missing:
                problems.append("not installed: %s" % missing)
            env = dict(os.environ)
            for name in ("GDK_PIXBUF_MODULE_FILE", "XDG_DATA_HOME", "QT_PLUGIN_PATH"):
                env.pop(name, None)
            consumers = subprocess.run(
                [sys.executable, os.path.join(os.path.dirname(__file__), "consumers.py"),
                 sys.argv[1], "--installed"], env=env, capture_output=True, text=True)
            print(consumers.stdout, end="")
            if consumers.returncode != 0:
                problems.append("the consumers do not open the pictures: " + consumers.stderr)
            manual = run(["man", "-w", "vldtool"])
            if manual.returncode != 0 or not manual.stdout.startswith("/usr/share/man/"):
                problems.append("man -w vldtool: %s" % (manual.stdout + manual.stderr).strip())
            with tempfile.TemporaryDirectory() as work:
                problem = use_library(work)
                if problem:
                    problems.append("libvld: " + problem)
    finally:
        removed = dpkg("-r", "velinde")
        if removed.returncode != 0:
            problems.append("dpkg -r: " + removed.stderr.strip())
    if installed():
        problems.append("still installed after dpkg -r")
    after = snapshot(folders, caches)
    changed = sorted(key for key in set(before) | set(after) if before.get(key) != after.get(key))
    if changed:
        problems.append("not as before after dpkg -r: %s" % changed)
    for problem in problems:
        print("FAIL " + problem)
    print("dpkg -i, use and dpkg -r: %s" % ("failed" if problems else "ok"))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())

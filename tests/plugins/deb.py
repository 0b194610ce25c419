#!/usr/bin/python3
"""Installs the built Debian package for real, uses it, removes it.

    deb.py CONFIG

Makes the package when it is missing or older than what it holds, installs
it with dpkg, and checks that Debian's triggers registered it: the consumers
open the pictures with no private registration (consumers.py --installed),
`man` finds the manual page, and a C program builds with `pkg-config vld`
and runs. After `dpkg -r`, the package's folders and the caches the triggers
rewrite must be exactly as before. Exits 77 (skipped) unless root, and when
a velinde package is installed already, as this test would take it away.
"""

import hashlib
import json
import os
import subprocess
import sys
import tempfile
import time


def run(command, **options):
    return subprocess.run(command, capture_output=True, text=True, **options)


def dpkg(*arguments):
    for _ in range(60):  # while another package tool holds the lock
        result = run(["dpkg"] + list(arguments))
        if result.returncode == 0 or "lock" not in result.stderr:
            break
        time.sleep(2)
    return result


def installed():
    status = run(["dpkg-query", "-W", "-f", "${Status}", "velinde"]).stdout
    return status if "installed" in status.split() else None


def snapshot(folders, caches):
    state = {folder: sorted(os.listdir(folder)) if os.path.isdir(folder) else None
             for folder in folders}
    for cache in caches:
        for top, _, names in os.walk(cache) if os.path.isdir(cache) else [("", 0, [cache])]:
            for name in names:
                with open(os.path.join(top, name), "rb") as f:
                    state[os.path.join(top, name)] = hashlib.sha256(f.read()).hexdigest()
    return state


def use(config, problems):
    env = {k: v for k, v in os.environ.items() if k not in ("GDK_PIXBUF_MODULE_FILE",
                                                           "XDG_DATA_HOME", "QT_PLUGIN_PATH")}
    consumers = subprocess.run([sys.executable, os.path.join(os.path.dirname(__file__),
                                "consumers.py"), sys.argv[1], "--installed"], env=env)
    if consumers.returncode != 0:
        problems.append("the consumers do not open the pictures")
    for program in ("vldtool", "velinde"):
        manual = run(["man", "-w", program]).stdout
        if not manual.startswith("/usr/share/man/"):
            problems.append("man -w %s: %r" % (program, manual))
    # A double-click's way: the desktop entry found by the picture's type.
    viewer = subprocess.run([sys.executable, os.path.join(os.path.dirname(__file__), "..", "e2e",
                             "view.py"), "gio_open", "--native", "--installed", "--build",
                             config["build"], "--vldtool", config["vldtool"]], env=env)
    if viewer.returncode != 0:
        problems.append("gio open does not show a picture with the installed viewer")
    with tempfile.TemporaryDirectory() as work:
        with open(os.path.join(work, "use.c"), "w") as f:
            f.write('#include <stdio.h>\n#include "vld.h"\n'
                    'int main(void) { puts(vld_version()); return 0; }\n')
        flags = run(["pkg-config", "--cflags", "--libs", "vld"]).stdout.split()
        built = run(["cc", "use.c", "-o", "use"] + flags, cwd=work)
        ran = run([os.path.join(work, "use")]) if built.returncode == 0 else built
        if ran.returncode != 0 or not ran.stdout.strip():
            problems.append("a program using libvld: %s" % ran.stderr.strip())


def main():
    config = json.load(open(sys.argv[1]))
    if os.geteuid() != 0:
        print("skipped: installing a package needs root")
        return 77
    if installed():
        print("skipped: velinde is installed already (%s)" % installed())
        return 77
    deb = config["deb"]
    inputs = [config[key] for key in ("loader", "qt_plugin", "library", "vldtool", "mime_xml",
                                      "thumbnailer")]
    inputs.append(os.path.join(config["build"], "CPackConfig.cmake"))
    inputs.append(os.path.join(config["build"], "bin", "velinde"))
    if not os.path.isfile(deb) or any(os.path.getmtime(p) > os.path.getmtime(deb) for p in inputs):
        built = run(["cmake", "--build", config["build"], "--target", "package"])
        if built.returncode != 0:
            print(built.stdout + built.stderr + "FAIL: the package was not built")
            return 1
    files = [line.split()[5][1:] for line in run(["dpkg-deb", "-c", deb]).stdout.splitlines()
             if not line.endswith("/")]
    folders = sorted({os.path.dirname(path) for path in files})
    caches = ["/etc/ld.so.cache", "/usr/share/mime", "/usr/share/applications/mimeinfo.cache",
              os.path.join(os.path.dirname(config["system_loaders"]), "loaders.cache")]
    before = snapshot(folders, caches)

    problems = []
    result = dpkg("-i", deb)
    try:
        if result.returncode != 0:
            problems.append("dpkg -i: " + result.stderr.strip())
        else:
            missing = [path for path in files if not os.path.lexists(path)]
            if missing:
                problems.append("not installed: %s" % missing)
            use(config, problems)
    finally:
        removed = dpkg("-r", "velinde")
    left = run(["dpkg-query", "-W", "-f", "${Status}", "velinde"]).stdout
    if removed.returncode != 0 or left not in ("", "unknown ok not-installed"):
        problems.append("dpkg -r: %s, leaves %r" % (removed.stderr.strip(), left))
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

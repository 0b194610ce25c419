#!/usr/bin/python3
"""Installs the built Debian packages for real, uses them, removes them.

    deb.py CONFIG

Makes the packages (lintian reviews them) when missing or older than what they
hold, installs them with apt, fresh and over the velinde 1.0.0 they replace: the consumers
open the pictures with no private registration (consumers.py --installed),
`man` finds the manual page, and a C program builds with `pkg-config vld`
and runs. After `dpkg --purge`, their folders, the caches the triggers rewrite
and dpkg's records must be as before. Exits 77 (skipped) unless root, and when
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


def installed(*packages):
    shown = run(["dpkg-query", "-W", "-f", "${Package} ${Version} ${db:Status-Abbrev}\n"]
                + list(packages)).stdout.split("\n")
    return dict(line.split()[:2] for line in shown if line.endswith(" ii "))


def contents(deb):
    return {line.split()[5][1:] for line in run(["dpkg-deb", "-c", deb]).stdout.splitlines()
            if not line.endswith("/")}


def old_package(build, source, commit="2fce727ec707057454117fd838ea78ee4be1c330"):
    deb = os.path.join(build, "tests", "plugins", "old", "velinde_1.0.0_amd64.deb")
    if not os.path.isfile(deb):
        with tempfile.TemporaryDirectory() as work:
            subprocess.run(
                "git -C {s} archive {c} | tar -x -C {w} && cmake -S {w} -B {w}/b "
                "-DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON && cmake --build {w}/b -j2 -t vld vld_shared "
                "vldtool vldtool_manpage pixbufloader_vld qvld && cpack --config {w}/b/CPackConfig."
                "cmake -B {d}".format(s=source, c=commit, w=work, d=os.path.dirname(deb)),
                shell=True, check=True, capture_output=True)
    return deb


def snapshot(folders, caches):
    state = {folder: sorted(os.listdir(folder)) if os.path.isdir(folder) else None
             for folder in folders}
    state["dpkg"] = (installed(), sorted(os.listdir("/var/lib/dpkg/info")))
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
                             "view.py"), "gio_open", "--native", "--build",
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
    if installed("velinde", "libvld1"):
        print("skipped: installed already: %s" % installed("velinde", "libvld1"))
        return 77
    debs = open(config["debs"]).read().split()
    inputs = [config[key] for key in ("loader", "qt_plugin", "library", "vldtool", "mime_xml",
                                      "thumbnailer", "thumbnailer_program")]
    inputs.append(os.path.join(config["build"], "CPackConfig.cmake"))
    inputs.append(os.path.join(config["build"], "bin", "velinde"))
    if any(not os.path.isfile(deb) or os.path.getmtime(p) > os.path.getmtime(deb)
           for deb in debs for p in inputs):
        built = run(["cmake", "--build", config["build"], "--target", "package"])
        if built.returncode != 0:
            print(built.stdout + built.stderr + "FAIL: the package was not built")
            return 1
    problems = []
    for old in (None, old_package(config["build"], config["source"])):
        install_and_remove(config, debs, old, problems)
    for problem in problems:
        print("FAIL " + problem)
    return 1 if problems else 0


def install_and_remove(config, debs, old, problems):
    names, version = zip(*(os.path.basename(deb).split("_")[:2] for deb in debs))
    files = set().union(*map(contents, debs)) | {"/usr/lib/x86_64-linux-gnu/libvld.so.1"}
    gone = contents(old) - files if old else set()
    folders = sorted({os.path.dirname(path) for path in files | gone})
    caches = ["/etc/ld.so.cache", "/usr/share/mime", "/usr/share/applications/mimeinfo.cache",
              "/var/lib/apt/extended_states",
              os.path.join(os.path.dirname(config["system_loaders"]), "loaders.cache")]
    before = snapshot(folders, caches)

    result = dpkg("-i", old) if old else None
    if result is None or result.returncode == 0:
        result = run(["apt-get", "install", "-y", "-q", "--no-install-recommends", "-o",
                      "DPkg::Lock::Timeout=300"] + debs)
    try:
        if result.returncode != 0:
            problems.append("installing: " + result.stderr.strip())
        else:
            missing = [path for path in files if not os.path.lexists(path)]
            missing += [path for path in gone if os.path.lexists(path)]  # velinde 1.0.0's own
            if missing or installed(*names, "velinde") != dict(zip(names, version)):
                problems.append("over %s: %s, %s" % (old, missing, installed(*names, "velinde")))
            use(config, problems)
    finally:
        removed = dpkg("--purge", *names, "velinde")
    if removed.returncode != 0:
        problems.append("dpkg --purge: " + removed.stderr.strip())
    after = snapshot(folders, caches)
    changed = sorted(key for key in set(before) | set(after) if before.get(key) != after.get(key))
    if changed:
        problems.append("not as before after dpkg --purge: %s" % changed)


if __name__ == "__main__":
    sys.exit(main())

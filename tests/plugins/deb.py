#!/usr/bin/python3
"""The Debian packages as a distribution's reviewer and a user meet them.

    deb.py CONFIG

Makes the packages when missing or older than what they hold. Then:
- lintian finds no error and no warning in any of them;
- every file `cmake --install` puts is in exactly the package SPLIT names
  for it (under /usr, manual pages compressed), and no package holds more;
- as root, for each way a user comes to them (SCENARIOS), `apt install` of
  all of them works, Debian's triggers register them (the consumers open the
  pictures with no private registration, `man` finds the page, a C program
  builds with `pkg-config vld` and runs), and after removing them all the
  system is as it was: the packages' folders, the caches the triggers
  rewrite, and dpkg's and apt's own records.
The upgrade starts from velinde 1.0.0, which held everything in one package,
built from the last commit that made it. Exits 77 (skipped) after the first
two checks unless root, or when one of the packages is installed already.
"""

import fnmatch
import hashlib
import json
import os
import subprocess
import sys
import tempfile
import time

MULTIARCH = "usr/lib/x86_64-linux-gnu/"
# Which package holds which installed files. The viewer's package is made
# only where the viewer is built.
SPLIT = {
    "libvld1": [MULTIARCH + "libvld.so.1*"],
    "libvld-dev": ["usr/include/vld.h", MULTIARCH + "libvld.so", MULTIARCH + "libvld.a",
                   MULTIARCH + "pkgconfig/vld.pc", MULTIARCH + "cmake/vld/*"],
    "vldtool": ["usr/bin/vldtool", "usr/share/man/man1/vldtool.1.gz"],
    "vld-gdk-pixbuf": [MULTIARCH + "gdk-pixbuf-2.0/*/loaders/libpixbufloader-vld.so",
                       "usr/share/thumbnailers/velinde.thumbnailer"],
    "qt6-image-formats-plugin-vld": [MULTIARCH + "qt6/plugins/imageformats/libqvld.so"],
    "vld-mime": ["usr/share/mime/packages/velinde.xml"],
    "velinde": ["usr/bin/velinde", "usr/share/man/man1/velinde.1.gz", "usr/share/applications/*",
                "usr/share/icons/*"],
}
OLD = ("velinde", "1.0.0", "2fce727ec707057454117fd838ea78ee4be1c330")
SCENARIOS = [("fresh install", False), ("upgrade from velinde %s" % OLD[1], True)]


def run(command, **options):
    return subprocess.run(command, capture_output=True, text=True, **options)


def dpkg(*arguments):
    for _ in range(150):  # while another package tool holds the lock
        result = run(["dpkg"] + list(arguments))
        if result.returncode == 0 or "lock" not in result.stderr:
            break
        time.sleep(2)
    return result


def field(deb, name):
    return run(["dpkg-deb", "-f", deb, name]).stdout.strip()


def contents(deb):
    """The files and links a package holds, without its documentation."""
    names = [line.split(None, 5)[5].split(" -> ")[0][2:]
             for line in run(["dpkg-deb", "-c", deb]).stdout.splitlines()]
    package = field(deb, "Package")
    return {n for n in names if not n.endswith("/") and
            not n.startswith("usr/share/doc/%s/" % package)}


def make_packages(config):
    with open(config["debs"]) as f:
        debs = f.read().split()
    inputs = [config[key] for key in ("loader", "qt_plugin", "library", "vldtool", "mime_xml",
                                      "thumbnailer")]
    inputs.append(os.path.join(config["build"], "CPackConfig.cmake"))
    newest = max(os.path.getmtime(p) for p in inputs)
    if not all(os.path.isfile(d) and os.path.getmtime(d) >= newest for d in debs):
        built = run(["cmake", "--build", config["build"], "--target", "package"])
        if built.returncode != 0:
            sys.exit(built.stdout + built.stderr + "FAIL: the packages were not built")
    return {field(deb, "Package"): deb for deb in debs}


def old_package(config):
    """velinde 1.0.0 as it was made, kept in the build folder once built."""
    name, version, commit = OLD
    deb = os.path.join(config["build"], "tests", "plugins", "old",
                       "%s_%s_amd64.deb" % (name, version))
    if os.path.isfile(deb):
        return deb
    with tempfile.TemporaryDirectory(prefix="vld-old-") as work:
        source, build = os.path.join(work, "source"), os.path.join(work, "build")
        os.mkdir(source)
        steps = [
            ["sh", "-c", 'git -C "$0" archive %s | tar -x -C "$1"' % commit, config["source"],
             source],
            # Only what the package holds is built: CPack then builds nothing more.
            ["cmake", "-S", source, "-B", build, "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
             "-DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON"],
            ["cmake", "--build", build, "-j2", "--target", "vld", "vld_shared", "vldtool",
             "vldtool_manpage", "pixbufloader_vld", "qvld"],
            ["cpack", "--config", os.path.join(build, "CPackConfig.cmake"), "-B",
             os.path.dirname(deb)]]
        for step in steps:
            done = run(step)
            if done.returncode != 0:
                sys.exit(done.stdout + done.stderr + "FAIL: %s %s was not built" % OLD[:2])
    return deb


def check_lintian(debs, problems):
    result = run(["lintian", "--fail-on", "error,warning", "--show-overrides"] + debs)
    shown = [line for line in result.stdout.splitlines() if line[:2] in ("E:", "W:", "O:")]
    print("lintian on %d packages: %s" % (len(debs), "; ".join(shown) or "nothing to say"))
    if result.returncode != 0:
        problems.append("lintian: %s" % (result.stdout + result.stderr).strip())


def check_split(config, packages, problems):
    """Every installed file in the one package SPLIT names for it."""
    with tempfile.TemporaryDirectory(prefix="vld-install-") as prefix:
        installed = run(["cmake", "--install", config["build"], "--prefix", prefix])
        if installed.returncode != 0:
            problems.append("cmake --install: " + installed.stderr.strip())
            return
        files = set()
        for top, _, names in os.walk(prefix):
            for name in names:
                path = "usr/" + os.path.relpath(os.path.join(top, name), prefix)
                files.add(path + ".gz" if path.startswith("usr/share/man/") else path)
    for path in sorted(files):
        owners = [p for p, patterns in SPLIT.items() if any(fnmatch.fnmatch(path, g)
                                                             for g in patterns)]
        if len(owners) != 1 or owners[0] not in packages:
            problems.append("%s is installed, but belongs to %s among %s" %
                            (path, owners, sorted(packages)))
    for package, deb in sorted(packages.items()):
        expected = {f for f in files if any(fnmatch.fnmatch(f, g) for g in SPLIT[package])}
        held = contents(deb)
        if held != expected or not held:
            problems.append("%s holds %s, expected %s" % (package, sorted(held), sorted(expected)))


def snapshot(folders, caches):
    state = {folder: sorted(os.listdir(folder)) if os.path.isdir(folder) else None
             for folder in folders}
    for cache in caches:
        for top, _, names in os.walk(cache) if os.path.isdir(cache) else [("", 0, [cache])]:
            for name in names:
                path = os.path.join(top, name)
                if os.path.isfile(path):
                    with open(path, "rb") as f:
                        state[path] = hashlib.sha256(f.read()).hexdigest()
    state["dpkg"] = run(["dpkg-query", "-W", "-f", "${Package} ${Version} ${db:Status-Abbrev}\n"
                         ]).stdout
    state["dpkg info"] = sorted(os.listdir("/var/lib/dpkg/info"))
    return state


def use(config, problems):
    env = {k: v for k, v in os.environ.items() if k not in ("GDK_PIXBUF_MODULE_FILE",
                                                           "XDG_DATA_HOME", "QT_PLUGIN_PATH")}
    consumers = subprocess.run([sys.executable, os.path.join(os.path.dirname(__file__),
                                "consumers.py"), sys.argv[1], "--installed"], env=env)
    if consumers.returncode != 0:
        problems.append("the consumers do not open the pictures")
    manual = run(["man", "-w", "vldtool"]).stdout
    if not manual.startswith("/usr/share/man/"):
        problems.append("man -w vldtool: %r" % manual)
    with tempfile.TemporaryDirectory() as work:
        with open(os.path.join(work, "use.c"), "w") as f:
            f.write('#include <stdio.h>\n#include "vld.h"\n'
                    'int main(void) { puts(vld_version()); return 0; }\n')
        flags = run(["pkg-config", "--cflags", "--libs", "vld"]).stdout.split()
        built = run(["cc", "use.c", "-o", "use"] + flags, cwd=work)
        ran = run([os.path.join(work, "use")]) if built.returncode == 0 else built
        if ran.returncode != 0 or not ran.stdout.strip():
            problems.append("a program using libvld: %s" % ran.stderr.strip())


def status(package):
    shown = run(["dpkg-query", "-W", "-f", "${Version} ${db:Status-Abbrev}", package]).stdout
    return shown.split()[0] if shown.endswith("ii ") else None


def scenario(config, packages, old, problems):
    """Installs the packages (over `old` when given), uses them, removes all."""
    version = field(next(iter(packages.values())), "Version")
    debs = list(packages.values())
    old_files = contents(old) if old else set()
    new_files = set().union(*(contents(d) for d in debs))
    folders = sorted({"/" + os.path.dirname(p) for p in old_files | new_files})
    caches = ["/etc/ld.so.cache", "/usr/share/mime", "/var/lib/apt/extended_states",
              os.path.join(os.path.dirname(config["system_loaders"]), "loaders.cache")]
    before = snapshot(folders, caches)
    try:
        if old:
            done = dpkg("-i", old)
            if done.returncode != 0:
                problems.append("dpkg -i %s: %s" % (old, done.stderr.strip()))
        done = run(["apt-get", "install", "-y", "-q", "--no-install-recommends",
                    "-o", "DPkg::Lock::Timeout=300"] + debs, env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"))
        if done.returncode != 0:
            problems.append("apt-get install: %s" % done.stderr.strip())
            return
        wrong = {p: status(p) for p in packages if status(p) != version}
        if "velinde" not in packages and status("velinde"):
            wrong["velinde"] = status("velinde")
        if wrong:
            problems.append("installed versions %s, expected %s" % (wrong, version))
        missing = [p for p in new_files if not os.path.lexists("/" + p)]
        left = [p for p in old_files - new_files if os.path.lexists("/" + p)]
        if missing or left:
            problems.append("not installed: %s; left from %s: %s" % (missing, old, left))
        use(config, problems)
    finally:
        names = list(packages) + ([] if "velinde" in packages else ["velinde"])
        done = dpkg("--purge", *names)
        if done.returncode != 0:
            problems.append("dpkg --purge: %s" % done.stderr.strip())
        after = snapshot(folders, caches)
        changed = sorted(k for k in set(before) | set(after) if before.get(k) != after.get(k))
        if changed:
            problems.append("not as before after dpkg --purge: %s" % changed)


def main():
    config = json.load(open(sys.argv[1]))
    packages = make_packages(config)
    problems = []
    check_lintian(list(packages.values()), problems)
    check_split(config, packages, problems)
    if not problems and os.geteuid() != 0:
        print("lintian and the split: ok; skipped: installing packages needs root")
        return 77
    if not problems and any(status(p) for p in list(packages) + ["velinde"]):
        print("skipped: a package of ours is installed already")
        return 77
    for name, upgrade in SCENARIOS if not problems else []:
        found = []
        scenario(config, packages, old_package(config) if upgrade else None, found)
        print("%s, use and dpkg --purge: %s" % (name, "failed" if found else "ok"), flush=True)
        problems += found
    for problem in problems:
        print("FAIL " + problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())

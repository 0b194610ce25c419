#!/usr/bin/python3
"""Every program in scripts/ answers --help with its usage and runs nothing.

    scripts_help.py SOURCE_DIR

Each script runs from a copy of scripts/ in an empty tree, with the commands
the scripts drive (package tools, CMake, Wine, X) replaced by stubs that note
their call, so that a script which ignored --help would be caught, not obeyed.
"""

import os
import shutil
import stat
import subprocess
import sys
import tempfile

DRIVEN = ("apt-get sudo dpkg-query locale-gen cmake ctest clang clang++ Xvfb xvfb-run "
          "wine wineboot wineserver import xdotool vldtool").split()


def main():
    source = os.path.abspath(sys.argv[1])
    failures = []
    with tempfile.TemporaryDirectory(prefix="vld-help-") as work:
        tree = os.path.join(work, "tree")
        stubs = os.path.join(work, "stubs")
        calls = os.path.join(work, "calls")
        shutil.copytree(os.path.join(source, "scripts"), os.path.join(tree, "scripts"))
        os.mkdir(stubs)
        for name in DRIVEN:
            path = os.path.join(stubs, name)
            with open(path, "w") as f:
                f.write('#!/bin/sh\necho "%s $*" >>"%s"\nexit 1\n' % (name, calls))
            os.chmod(path, stat.S_IRWXU)
        env = dict(os.environ, PATH=stubs + os.pathsep + os.environ["PATH"])
        env.pop("DISPLAY", None)
        scripts = sorted(os.listdir(os.path.join(tree, "scripts")))
        for script in scripts:
            before = sorted(os.listdir(tree))
            try:
                result = subprocess.run(["scripts/" + script, "--help"], cwd=tree, env=env,
                                        capture_output=True, text=True, timeout=30)
                outcome = (result.returncode, result.stdout, result.stderr)
            except subprocess.TimeoutExpired:
                outcome = (None, "", "did not end within 30 s")
            called = open(calls).read() if os.path.exists(calls) else ""
            if (outcome[0] != 0 or not outcome[1].startswith("usage: scripts/" + script)
                    or outcome[2] or called or sorted(os.listdir(tree)) != before):
                failures.append("scripts/%s --help: status %s, stdout %r, stderr %r, ran %r" %
                                (script, outcome[0], outcome[1][:80], outcome[2][:200], called))
            if os.path.exists(calls):
                os.remove(calls)
    for failure in failures:
        print("FAIL " + failure)
    print("%d of %d scripts answer --help" % (len(scripts) - len(failures), len(scripts)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

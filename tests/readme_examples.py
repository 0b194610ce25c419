#!/usr/bin/python3
"""Runs every command the README and docs/*.md show, as written.

    readme_examples.py SOURCE_DIR NATIVE_BUILD WINDOWS_BUILD

An example is a line of a ```sh block, but those ELSEWHERE runs; a
line with placeholders (FILE, OUT.png, [--json], ...) is a synopsis and is
left out. In a block with "$ " prompts, the lines after a command are its
output: each shown line that names no path must appear in the real output.

The examples run in order, with no X display, in a scratch tree and HOME holding a copy
of docs/, samples/ and scripts/ and the two builds linked in as build/native and
build/windows, so the files they write land there. Each must exit with status
0 and produce something: the files it names after -o, --output=, -d or >,
else some standard output.
"""

import glob
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile

# Run by .ci/run (scripts/setup, scripts/test), plugins_deb (apt), web_page.open
# (the site served) and vld_install_alone (the library built alone).
ELSEWHERE = re.compile(r"^(scripts/(setup|test)|cmake (--build|-S) |sudo apt|python3 -m http)")
PLACEHOLDER = re.compile(r"\[|\.\.\.|(^|[\s=,])[A-Z][A-Z0-9]*([.,]\S*)?(\s|$)")


def examples(readme):
    """(command, shown output lines) for each example, in README order."""
    found, carried = [], ""
    for block in re.findall(r"^```sh\n(.*?)^```", readme, re.S | re.M):
        lines = block.splitlines()
        prompted = any(line.startswith("$ ") for line in lines)
        current = None
        for line in lines:
            if prompted and not line.startswith("$ "):
                if current is not None:
                    current[1].append(line)
                continue
            command = line[2:] if prompted else line
            code = command.split(" #", 1)[0]
            current = None
            if re.match(r"\w+=\S+$", code):  # a variable the lines after it use
                carried += code + "; "
            elif code and not PLACEHOLDER.search(code) and not ELSEWHERE.search(code):
                current = (carried + command, [])
                found.append(current)
    return found


def written_files(command):
    words = shlex.split(command, comments=True)
    targets = [words[i + 1] for i, w in enumerate(words[:-1]) if w in ("-o", "-d", ">")]
    targets += [w.split("=", 1)[1] for w in words if w.startswith("--output=")]
    targets += [w[1:] for w in words if w.startswith(">") and len(w) > 1 and w[1] not in "&>"]
    return [t for t in targets if t != "-"]


def check_example(tree, env, command, shown):
    result = subprocess.run(["bash", "-c", command], cwd=tree, env=env, capture_output=True,
                            text=True, timeout=240)
    if result.returncode != 0:
        return "exit status %d: %s" % (result.returncode, result.stderr.strip())
    outputs = written_files(command)
    for target in outputs:
        path = os.path.join(tree, target)
        if not (os.path.isdir(path) and os.listdir(path)) and not (
                os.path.isfile(path) and os.path.getsize(path) > 0):
            return "wrote nothing to %s" % target
    if not outputs and not result.stdout.strip():
        return "printed nothing"
    if "scripts/view" in command:
        shot = result.stdout.strip().splitlines()[-1].split(" is in ", 1)[-1]
        if not os.path.isfile(shot):
            return "no screenshot at %r" % shot
    printed = result.stdout.splitlines()
    missing = [line for line in shown if line != "..." and "/" not in line and line not in printed]
    if missing:
        return "shown output not printed: %s" % missing
    return None


def main():
    source, native, windows = (os.path.abspath(a) for a in sys.argv[1:4])
    found = [e for name in ["README.md"] + sorted(glob.glob("docs/*.md", root_dir=source))
             for e in examples(open(os.path.join(source, name), encoding="utf-8").read())]
    failures = []
    with tempfile.TemporaryDirectory(prefix="vld-readme-") as tree:
        for part in ("docs", "samples", "scripts"):
            shutil.copytree(os.path.join(source, part), os.path.join(tree, part))
        os.mkdir(os.path.join(tree, "build"))
        os.symlink(native, os.path.join(tree, "build", "native"))
        os.symlink(windows, os.path.join(tree, "build", "windows"))
        env = {k: v for k, v in os.environ.items()
               if k not in ("DISPLAY", "WINEPREFIX", "VLD_BUILD", "VLD_SHOT")}
        env["PATH"] = os.path.join(tree, "build", "native", "bin") + os.pathsep + env["PATH"]
        env["HOME"] = tree
        for command, shown in found:
            problem = check_example(tree, env, command, shown)
            print("%s %s" % ("FAIL" if problem else "ok  ", command))
            if problem:
                print("     " + problem)
                failures.append(command)
    print("%d of %d README examples ran as written" % (len(found) - len(failures), len(found)))
    return 1 if failures or not found else 0


if __name__ == "__main__":
    sys.exit(main())

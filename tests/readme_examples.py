#!/usr/bin/python3
"""Runs every command the README and docs/*.md show, as written.

    readme_examples.py SOURCE_DIR NATIVE_BUILD WINDOWS_BUILD

A command is a line of a ```sh block; a line with placeholders (FILE,
OUT.png, [--json], ...) is a synopsis and is left out. In a block with "$ "
prompts, the lines after a command are its output: each shown line that names
no path must appear in the real output. A line that only sets a shell
variable (`lib=...`) is carried into the lines after it in its block.

Commands that install into the system, build every preset or serve until
stopped are run elsewhere: ELSEWHERE names where, and a command that
scripts/setup runs must be found in it as written. Any other command the
documents show runs here, in order, with no X display, in a scratch tree
holding a copy of docs/, samples/ and scripts/ and the two builds linked in
as build/native and build/windows, with HOME in the tree, so the files they
write land there. Each must exit with status 0 and produce something: the
files it names after -o, --output=, -d or >, else some standard output.
"""

import glob
import os
import re
import shlex
import subprocess
import sys
import tempfile

PLACEHOLDER = re.compile(r"\[|\.\.\.|(^|[\s=,])[A-Z][A-Z0-9]*([.,]\S*)?(\s|$)")
ASSIGNMENT = re.compile(r"^[A-Za-z_]\w*=\S*$")
ELSEWHERE = [
    (re.compile(r"^scripts/(setup|test)$"), "CI (.ci/run)"),
    (re.compile(r"^cmake (--preset|--build --preset) "), "scripts/setup"),
    (re.compile(r"^sudo apt install \./build/native/"), "plugins_deb (apt-get install)"),
    (re.compile(r"^python3 -m http\.server "), "web_page.open (the site from a static server)"),
]


def examples(text):
    """(command, variables set before it in its block, shown output lines)."""
    found = []
    for block in re.findall(r"^```sh\n(.*?)^```", text, re.S | re.M):
        lines = block.splitlines()
        prompted = any(line.startswith("$ ") for line in lines)
        current, carried = None, []
        for line in lines:
            if prompted and not line.startswith("$ "):
                if current is not None:
                    current[2].append(line)
                continue
            command = (line[2:] if prompted else line).split(" #", 1)[0].strip()
            current = None
            if command and not PLACEHOLDER.search(command):
                current = (command, list(carried), [])
                found.append(current)
                if ASSIGNMENT.match(command):
                    carried.append(command)
    return found


def written_files(command):
    words = shlex.split(command, comments=True)
    targets = [words[i + 1] for i, w in enumerate(words[:-1]) if w in ("-o", "-d", ">")]
    targets += [w.split("=", 1)[1] for w in words if w.startswith("--output=")]
    targets += [w[1:] for w in words if w.startswith(">") and len(w) > 1 and w[1] not in "&>"]
    return [t for t in targets if t != "-"]


def elsewhere(source, command):
    """Who runs `command` instead, or None; a problem when it does not."""
    for pattern, runner in ELSEWHERE:
        if pattern.search(command):
            setup = open(os.path.join(source, "scripts", "setup")).read()
            steps = [step.strip() for step in command.split("&&")]
            if runner == "scripts/setup" and not all(step in setup for step in steps):
                return runner, "scripts/setup does not run it"
            return runner, None
    return None, None


def check_example(tree, env, command, carried, shown):
    script = "set -e\n" + "".join(line + "\n" for line in carried) + command
    result = subprocess.run(["bash", "-c", script], cwd=tree, env=env, capture_output=True,
                            text=True, timeout=240)
    if result.returncode != 0:
        return "exit status %d: %s" % (result.returncode, result.stderr.strip())
    if ASSIGNMENT.match(command):
        return None
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
    documents = [os.path.join(source, "README.md")] + sorted(
        glob.glob(os.path.join(source, "docs", "*.md")))
    failures, count = [], 0
    with tempfile.TemporaryDirectory(prefix="vld-readme-") as tree:
        subprocess.run(["cp", "-r"] + [os.path.join(source, part) for part in
                                       ("docs", "samples", "scripts")] + [tree], check=True)
        os.mkdir(os.path.join(tree, "build"))
        os.symlink(native, os.path.join(tree, "build", "native"))
        os.symlink(windows, os.path.join(tree, "build", "windows"))
        env = {k: v for k, v in os.environ.items()
               if k not in ("DISPLAY", "WINEPREFIX", "VLD_BUILD", "VLD_SHOT", "PKG_CONFIG_PATH",
                            "LD_LIBRARY_PATH")}
        env["PATH"] = os.path.join(tree, "build", "native", "bin") + os.pathsep + env["PATH"]
        env["HOME"] = tree
        for document in documents:
            with open(document, encoding="utf-8") as f:
                found = examples(f.read())
            name = os.path.relpath(document, source)
            for command, carried, shown in found:
                count += 1
                runner, problem = elsewhere(source, command)
                if runner is None:
                    problem = check_example(tree, env, command, carried, shown)
                print("%s %s: %s%s" % ("FAIL" if problem else "ok  ", name, command,
                                       "" if runner is None else "  (run by %s)" % runner))
                if problem:
                    print("     " + problem)
                    failures.append(command)
    print("%d of %d documented commands ran as written" % (count - len(failures), count))
    return 1 if failures or not count else 0


if __name__ == "__main__":
    sys.exit(main())

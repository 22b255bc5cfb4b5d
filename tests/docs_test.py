#!/usr/bin/env python3
"""The shell sessions of README.md and the manual pages, run as written.

docs_test.py SOURCE_DIR BUILD_DIR

Every command shown with its output ("$ command" followed by the lines it
prints) runs in a scratch folder holding a copy of docs/, with the built
commands first on PATH, and must print exactly those lines; "$ cat FILE"
with its lines writes FILE there, as a reader would before the commands
that read it. Commands shown without output (those that write files or
take long) are not run. Exit status 1 and a diff for each that differs.
"""

import difflib
import os
import re
import shutil
import subprocess
import sys
import tempfile

# A man page's escapes in a literal display, as mandoc renders them.
MAN_ESCAPES = [("\\e", "\\"), ("\\-", "-"), ("\\&", ""), ("\\(ha", "^")]


def readme_sessions(text):
    """(command, output lines) of README's indented code blocks."""
    lines = text.split("\n")
    sessions, i = [], 0
    while i < len(lines):
        if not lines[i].startswith("    $ "):
            i += 1
            continue
        command = lines[i][6:]
        i += 1
        output = []
        # A blank line within a code block, as Markdown takes it: one
        # between two indented lines.
        while i < len(lines) and not lines[i].startswith("    $ ") and (
                lines[i].startswith("    ") or lines[i] == "" and
                i + 1 < len(lines) and lines[i + 1].startswith("    ") and
                not lines[i + 1].startswith("    $ ")):
            output.append(lines[i][4:])
            i += 1
        sessions.append((command, output))
    return sessions


def man_sessions(text):
    """(command, output lines) of a manual page's literal displays."""
    sessions = []
    for block in re.findall(r"^\.Bd -literal[^\n]*\n(.*?)^\.Ed$", text,
                            re.S | re.M):
        lines = block.rstrip("\n").split("\n")
        for old, new in MAN_ESCAPES:
            lines = [line.replace(old, new) for line in lines]
        i = 0
        while i < len(lines):
            if not lines[i].startswith("$ "):
                i += 1
                continue
            command = lines[i][2:]
            while command.endswith(("\\", "|")) and i + 1 < len(lines):
                i += 1
                command = command.rstrip("\\") + " " + lines[i].strip()
            i += 1
            output = []
            while i < len(lines) and not lines[i].startswith("$ "):
                output.append(lines[i])
                i += 1
            sessions.append((command, output))
    return sessions


def run(source, build):
    documents = [("README.md", readme_sessions)]
    documents += [(os.path.join("man", name), man_sessions)
                  for name in sorted(os.listdir(os.path.join(source, "man")))]
    failures, ran = 0, 0
    with tempfile.TemporaryDirectory() as scratch:
        shutil.copytree(os.path.join(source, "docs"),
                        os.path.join(scratch, "docs"))
        environment = {"PATH": build + os.pathsep + "/usr/bin:/bin",
                       "LC_ALL": "C", "HOME": scratch}
        for name, sessions_of in documents:
            with open(os.path.join(source, name), encoding="utf-8") as f:
                sessions = sessions_of(f.read())
            for command, expected in sessions:
                while expected and expected[-1] == "":
                    expected.pop()
                if not expected:
                    continue
                written = re.fullmatch(r"cat ([\w.-]+)", command)
                if written:
                    with open(os.path.join(scratch, written.group(1)), "w",
                              encoding="utf-8") as f:
                        f.write("\n".join(expected) + "\n")
                    continue
                command = command.replace("build/release/", build + "/")
                result = subprocess.run(["sh", "-c", command], cwd=scratch,
                                        env=environment, capture_output=True,
                                        text=True, check=False)
                ran += 1
                got = result.stdout.rstrip("\n").split("\n")
                if got != expected:
                    failures += 1
                    print(f"{name}: $ {command}")
                    sys.stdout.writelines(
                        line + "\n" for line in difflib.unified_diff(
                            expected, got, "as written", "as run",
                            lineterm=""))
                    if result.stderr:
                        print(result.stderr, end="")
    print(f"{ran} sessions run, {failures} differ")
    return 1 if failures or not ran else 0


if __name__ == "__main__":
    sys.exit(run(os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])))

#!/usr/bin/env python3
"""Checks that the notes name only paths the tree has.

    check_doc_paths.py [TOP]

The notes are README.md, docs/*.md and tests/README.md. In each, every code
span (text in backticks, outside fenced and indented code blocks) that holds
a slash and no blank is a path, and it must exist, from the note's own folder
or from the top of the tree, unless it is one of these, which are not paths
of the tree:

  - absolute or foreign: it starts with / or ~, or holds a backslash or a
    colon (a Windows path, a URL, a sysfs pattern);
  - a pattern or placeholder: it holds * ? [ ] { } < > $ or "...", or a part
    of it is written in capitals alone (DIR, FILE, TARGET);
  - a build output: its first part is a build folder (build, build-*, as
    .gitignore says).

A name without a slash (QUORVENAL.sys, config_lock.cpp under its folder's
heading) is not checked. Each README also names every folder that stands
beside it in the tree (hidden ones aside), as NAME/ or a path inside it. A
table cell that names test files (tests/....cpp) and tests (Suite.Name) must
name only tests that one of those files defines.

Prints each fault as NOTE:LINE: ... and exits 1 when there is one.
"""

import os
import re
import subprocess
import sys

NOTES = ["README.md", "docs/*.md", "tests/README.md"]
READMES = ["README.md", "tests/README.md"]

SPAN_RE = re.compile(r"(`+)(.+?)\1", re.S)
FENCE_RE = re.compile(r"^\s*(```|~~~)")
PLACEHOLDER_PART_RE = re.compile(r"^[A-Z][A-Z0-9_]*$")
BUILD_PART_RE = re.compile(r"^build(-.*)?$")
TEST_FILE_RE = re.compile(r"^tests/.+\.cpp$")
TEST_NAME_RE = re.compile(r"^([A-Z]\w*)\.([A-Z]\w*)$")


def notes(top):
    found = []
    for pattern in NOTES:
        folder, name = os.path.split(pattern)
        if "*" not in name:
            found.append(pattern)
            continue
        for entry in sorted(os.listdir(os.path.join(top, folder))):
            if entry.endswith(name.lstrip("*")):
                found.append(os.path.join(folder, entry))
    return found


def prose(text):
    """The text with fenced and indented code blocks blanked, line for line,
    so that offsets still give line numbers."""
    lines = text.split("\n")
    kept = []
    fenced = False
    indented = False
    previous_blank = True
    for line in lines:
        if FENCE_RE.match(line):
            fenced = not fenced
            kept.append("")
            continue
        blank = line.strip() == ""
        if not fenced and not blank and line.startswith("    ") and (previous_blank or indented):
            indented = True
        elif not blank:
            indented = False
        kept.append("" if fenced or indented else line)
        previous_blank = blank
    return "\n".join(kept)


def spans(text):
    """(line, text) of every code span of the prose."""
    body = prose(text)
    for match in SPAN_RE.finditer(body):
        yield body.count("\n", 0, match.start()) + 1, match.group(2).strip()


def why_not_a_path(span):
    """None for a path of the tree, else the reason it is not one."""
    if re.search(r"\s", span) or "/" not in span:
        return "no path"
    if span.startswith(("/", "~")) or "\\" in span or ":" in span:
        return "absolute or foreign"
    if re.search(r"[*?\[\]{}<>$]", span) or "..." in span:
        return "pattern"
    parts = [p for p in span.split("/") if p]
    if any(PLACEHOLDER_PART_RE.match(p) for p in parts):
        return "placeholder"
    if BUILD_PART_RE.match(parts[0]):
        return "build output"
    return None


def unknown_tests(top, text):
    """(line, test) of every test a table cell names that none of the test
    files named in the same cell defines."""
    found = []
    for number, line in enumerate(prose(text).split("\n"), 1):
        if not line.startswith("|"):
            continue
        for cell in re.split(r"(?<!\\)\|", line):
            named = [m.group(2).strip() for m in SPAN_RE.finditer(cell)]
            files = [n for n in named if TEST_FILE_RE.match(n)]
            if not files:
                continue
            sources = ""
            for name in files:
                path = os.path.join(top, name)
                if os.path.isfile(path):
                    with open(path, encoding="utf-8") as f:
                        sources += f.read()
            for name in named:
                test = TEST_NAME_RE.match(name)
                if test and not re.search(r"\bTEST(_F|_P)?\(\s*%s\s*,\s*%s\s*\)" % test.groups(), sources):
                    found.append((number, name))
    return found


def tracked_folders(top, folder):
    """The folders beside a README that hold files of the tree, hidden ones aside."""
    try:
        listed = subprocess.run(["git", "-C", os.path.join(top, folder), "ls-files", "."],
                                capture_output=True, text=True, check=True).stdout.split("\n")
        return sorted({line.split("/")[0] for line in listed if "/" in line and not line.startswith(".")})
    except (OSError, subprocess.CalledProcessError):
        full = os.path.join(top, folder)
        return sorted(entry for entry in os.listdir(full)
                      if os.path.isdir(os.path.join(full, entry)) and not entry.startswith(".")
                      and not BUILD_PART_RE.match(entry) and entry != "Testing")


def check(top):
    faults = []
    for note in notes(top):
        with open(os.path.join(top, note), encoding="utf-8") as f:
            text = f.read()
        here = os.path.dirname(note)
        named = set()
        for line, span in spans(text):
            named.add(span)
            if why_not_a_path(span) is not None:
                continue
            path = span.rstrip("/")
            if not any(os.path.exists(os.path.join(top, base, path)) for base in (here, "")):
                faults.append("%s:%d: `%s` is not in the tree" % (note, line, span))
        for line, test in unknown_tests(top, text):
            faults.append("%s:%d: `%s` is not a test of the files the cell names" % (note, line, test))
        if note in READMES:
            for folder in tracked_folders(top, here):
                if not any(span.startswith(folder + "/") for span in named):
                    faults.append("%s: the folder %s/ beside it is not named" % (note, folder))
    return faults


def main():
    top = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else
                          os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
    faults = check(top)
    for fault in faults:
        print(fault)
    checked = notes(top)
    print("check_doc_paths: %d notes, %d faults" % (len(checked), len(faults)))
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())

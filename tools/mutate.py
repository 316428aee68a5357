#!/usr/bin/env python3
"""Mutation runner for quorvenal's product code (ioctl/sys/ and app/).

Each mutant is one small change to one source line (a negated or swapped
condition, a changed constant or table entry, a dropped call statement, a loop
bound moved by one, two adjacent statements swapped). The runner applies one
mutant at a time to a copy of the sources in a build tree of its own and
recompiles what the mutated file makes. A mutant whose objects hold the same
code and data as before is equivalent without a test; otherwise it runs the
fast stand-in tests (no Wine, no QEMU) that execute the mutated line, known
from a coverage map of the unmutated tree, two at a time, stopping at the
first failure, each batch under a time limit. Outcomes:

  killed         a test failed (or crashed)
  survived       every test passed, or no test executes the line ("not covered")
  did-not-build  the mutant does not compile (does not count in the score)
  timed-out      a test ran past the limit (counted as killed)
  equivalent     the same object code as the unmutated file, or survived and
                 listed in tools/mutate-equivalents.tsv

Usage: tools/mutate.py [--files PATH...] [--max N] [--seed S] [--timeout SEC]
                       [--jobs N] [--test-jobs N] [--no-coverage-map]
                       [--no-object-check] [--operators OP...] [--lines N...]
                       [--build DIR] [--list] [--report FILE] [--rescore REPORT...]
                       [--check-equivalents] [--sample [FILE]] [--pick-sample REPORT]
See docs/testing.md.
"""

import argparse
import fnmatch
import hashlib
import json
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEFAULT_FILES = ["ioctl/sys/*.cpp", "ioctl/sys/*.h", "app/*.cpp", "app/*.h", "app/qvcli/*.cpp",
                 "app/qvcli/*.h"]
# What the mutation build needs of the tree; bench/, qemu/ and wine/ are left
# out (configured with QUORVENAL_BEDS=OFF). Of the notes, the one a test
# reads: qvcli's usage as docs/qvcli.md shows it.
COPIED = ["CMakeLists.txt", "cmake", "host", "kernel_rules", "ioctl", "app", "framework", "tests", "machines",
          "tools", "docs/qvcli.md"]
# The fast stand-in test programs, cheapest first, with the folders whose
# code they run. Each is a GoogleTest executable in the build folder; the
# first failure kills the mutant.
TEST_PROGRAMS = [
    ("features_unit_tests", ["ioctl/", "app/"]),  # the register facts of ioctl/sys/ too
    ("driver_dispatch_test", ["ioctl/"]),
    ("driver_header_write_test", ["ioctl/"]),
    ("driver_ecam_test", ["ioctl/"]),
    ("driver_kernel_test", ["ioctl/"]),
    ("driver_machine_test", ["app/"]),
    ("driver_strictness_test", ["ioctl/"]),
    ("driver_window_confirm_test", ["ioctl/"]),
    ("driver_base_search_ram_test", ["ioctl/"]),
    ("driver_raised_irql_test", ["ioctl/"]),
    ("driver_register_access_test", ["ioctl/"]),
    ("driver_security_test", ["ioctl/"]),
    ("driver_kernel_security_test", ["ioctl/"]),
    ("driver_device_memory_test", ["ioctl/"]),
    ("driver_multiprocessor_test", ["ioctl/"]),
    ("driver_qvdump_test", ["ioctl/"]),
    ("ui_resources_test", ["app/"]),
    ("ui_app_test", ["ioctl/", "app/"]),
    ("ui_program_test", ["ioctl/", "app/"]),
    ("service_tests", ["ioctl/", "app/"]),
    ("features_program_tests", ["ioctl/", "app/"]),
    ("qvcli_tests", ["ioctl/", "app/"]),
]


def programs_for(path):
    return [name for name, folders in TEST_PROGRAMS
            if any(path.startswith(folder) for folder in folders)]


ALL_PROGRAMS = [name for name, _ in TEST_PROGRAMS]
EQUIVALENTS = os.path.join(TOP, "tools", "mutate-equivalents.tsv")

# ---------------------------------------------------------------------------
# Source scanning: which characters of a line are code (not comment, string or
# character literal, not a preprocessor line).


def code_mask(lines):
    """For each line, a string of the same length: 'c' code, 's' inside a
    string or character literal (quotes included), ' ' comment or
    preprocessor."""
    masks = []
    in_block = False
    for line in lines:
        mask = []
        i = 0
        stripped = line.lstrip()
        if not in_block and stripped.startswith("#"):
            # A constant's definition is code after its name; any other
            # preprocessor line is left alone.
            define = re.match(r"\s*#\s*define\s+\w+\s", line)
            if define is None or "(" in line[:define.end()]:
                masks.append(" " * len(line))
                continue
            mask = [" "] * define.end()
            i = define.end()
        while i < len(line):
            ch = line[i]
            if in_block:
                if line.startswith("*/", i):
                    mask += "  "
                    i += 2
                    in_block = False
                else:
                    mask.append(" ")
                    i += 1
                continue
            if line.startswith("//", i):
                mask += " " * (len(line) - i)
                break
            if line.startswith("/*", i):
                in_block = True
                mask += "  "
                i += 2
                continue
            if ch in "\"'":
                j = i + 1
                while j < len(line) and line[j] != ch:
                    j += 2 if line[j] == "\\" else 1
                j = min(j + 1, len(line))
                mask += "s" * (j - i)
                i = j
                continue
            mask.append("c")
            i += 1
        masks.append("".join(mask))
    return masks


class Mutant:
    def __init__(self, path, line, operator, original, mutated, extra=None):
        self.path = path          # relative to the top of the tree
        self.line = line          # 1-based
        self.operator = operator
        self.original = original  # the line as it is
        self.mutated = mutated    # the line as the mutant has it ("" dropped)
        self.extra = extra        # (line, original, mutated) of a second line, or None
        self.outcome = None
        self.detail = ""
        self.seconds = 0.0

    def key(self):
        return (self.path, self.line, self.operator, self.mutated)

    def describe(self):
        before = self.original.strip()
        after = self.mutated.strip() or "(dropped)"
        if self.extra is not None:
            return "%s  <->  %s" % (before, self.extra[1].strip())
        return "%s  ->  %s" % (before, after)


def replace_at(line, start, end, text):
    return line[:start] + text + line[end:]


# --- operators -------------------------------------------------------------

RELATIONAL_SWAPS = {"==": "!=", "!=": "==", "<": ">=", ">=": "<", ">": "<=", "<=": ">",
                    "&&": "||", "||": "&&"}
RELATIONAL_RE = re.compile(r"==|!=|<=|>=|&&|\|\||(?<![<\-])<(?![<=])|(?<![>\-])>(?![>=])")
INTEGER_RE = re.compile(r"(?<![\w.])(0[xX][0-9A-Fa-f]+|\d+)([uUlL]*)(?![\w.])")
BOOL_RE = re.compile(r"\b(true|false|TRUE|FALSE)\b")
BOOL_SWAPS = {"true": "false", "false": "true", "TRUE": "FALSE", "FALSE": "TRUE"}
CONDITION_RE = re.compile(r"\b(if|while)\s*\(")
FOR_RE = re.compile(r"\bfor\s*\(")
CALL_START_RE = re.compile(r"^\s*(?:[A-Za-z_]\w*(?:::|\.|->))*[A-Za-z_]\w*\s*\(")
ARITH_RE = re.compile(r"(?<=[\w)\]] )([+\-|&^]|<<|>>)(?= [\w(])")
ARITH_SWAPS = {"+": "-", "-": "+", "|": "&", "&": "|", "^": "|", "<<": ">>", ">>": "<<"}
DECL_RE = re.compile(r"^\s*(const\s+|static\s+|unsigned\s+|volatile\s+)*"
                     r"[A-Za-z_][\w:<>]*[\s*&]+[A-Za-z_]\w*(\[[^\]]*\])?\s*(=|;|\()")
KEYWORD_START_RE = re.compile(r"^\s*(return|break|continue|case|default|goto|else|do)\b")


def template_angle(line, pos):
    """True when the '<' or '>' at pos looks like a template bracket or
    include, not a comparison."""
    before = line[:pos].rstrip()
    return bool(re.search(r"(template|static_cast|reinterpret_cast|const_cast|unique_ptr|"
                          r"vector|map|std::\w+)\s*$", before)) or \
        (line[pos] == ">" and re.search(r"<[\w:\s*&]*$", before) is not None)


def matching_paren(text, mask, open_pos):
    depth = 0
    for i in range(open_pos, len(text)):
        if mask[i] != "c":
            continue
        if text[i] == "(":
            depth += 1
        elif text[i] == ")":
            depth -= 1
            if depth == 0:
                return i
    return -1


def line_mutants(path, index, line, mask):
    found = []

    def add(op, mutated):
        if mutated != line:
            found.append(Mutant(path, index + 1, op, line, mutated))

    # Negate a condition: if (X) -> if (!(X)); only when the condition closes on this line.
    for m in CONDITION_RE.finditer(line):
        if mask[m.start()] != "c":
            continue
        open_pos = m.end() - 1
        close = matching_paren(line, mask, open_pos)
        if close > open_pos + 1:
            inner = line[open_pos + 1:close]
            add("negate-condition", replace_at(line, open_pos + 1, close, "!(" + inner + ")"))

    # Swap a relational or logical operator.
    for m in RELATIONAL_RE.finditer(line):
        if any(c != "c" for c in mask[m.start():m.end()]):
            continue
        op = m.group(0)
        if op in "<>" and template_angle(line, m.start()):
            continue
        add("swap-condition", replace_at(line, m.start(), m.end(), RELATIONAL_SWAPS[op]))

    # Change a constant (also a table entry or an argument): N -> N+1, 0 -> 1, 1 -> 0.
    for m in INTEGER_RE.finditer(line):
        if any(c != "c" for c in mask[m.start():m.end()]):
            continue
        text, suffix = m.group(1), m.group(2)
        value = int(text, 16) if text[:2].lower() == "0x" else int(text)
        if text.startswith("0") and len(text) > 1 and text[:2].lower() != "0x":
            continue  # octal: leave alone
        new = 0 if value == 1 else value + 1
        new_text = ("0x%X" % new) if text[:2].lower() == "0x" else str(new)
        add("change-constant", replace_at(line, m.start(), m.end(), new_text + suffix))

    for m in BOOL_RE.finditer(line):
        if mask[m.start()] != "c":
            continue
        add("change-constant", replace_at(line, m.start(), m.end(), BOOL_SWAPS[m.group(1)]))

    # Change a string table entry or message: one more character at its end.
    for m in re.finditer(r'"', line):
        if mask[m.start()] != "s" or (m.start() > 0 and mask[m.start() - 1] == "s"):
            continue
        end = m.start() + 1
        while end < len(line) and line[end] != '"':
            end += 2 if line[end] == "\\" else 1
        if end < len(line):
            add("change-string", replace_at(line, end, end, "#"))

    # Arithmetic and bit operators written with spaces round them.
    for m in ARITH_RE.finditer(line):
        if any(c != "c" for c in mask[m.start():m.end()]):
            continue
        add("swap-arithmetic", replace_at(line, m.start(), m.end(), ARITH_SWAPS[m.group(1)]))
    return found


def file_mutants(path, text):
    lines = text.split("\n")
    masks = code_mask(lines)
    mutants = []
    for i, (line, mask) in enumerate(zip(lines, masks)):
        if "c" not in mask or "static_assert" in line:
            continue
        mutants += line_mutants(path, i, line, mask)

    # Loop bound moved by one: for (...; i < N; ...) -> i < N + 1 and i < N - 1.
    for i, (line, mask) in enumerate(zip(lines, masks)):
        for m in FOR_RE.finditer(line):
            if mask[m.start()] != "c":
                continue
            close = matching_paren(line, mask, m.end() - 1)
            header = line[m.end():close]
            parts = header.split(";")
            if close < 0 or len(parts) != 3:
                continue
            cond = parts[1]
            cm = re.match(r"(\s*[\w.\->\[\]]+\s*(?:<=|<|>=|>|!=)\s*)(.+?)\s*$", cond)
            if not cm:
                continue
            start = m.end() + len(parts[0]) + 1
            bound = cm.group(2)
            for delta in ("+ 1", "- 1"):
                new_cond = cm.group(1) + "(" + bound + ") " + delta
                mutated = replace_at(line, start, start + len(cond), new_cond)
                mutants.append(Mutant(path, i + 1, "move-loop-bound", line, mutated))

    # Drop a call statement; a statement running over several lines is
    # dropped whole (the first line is reported).
    i = 0
    while i < len(lines):
        line, mask = lines[i], masks[i]
        code = "".join(ch if mk == "c" else " " for ch, mk in zip(line, mask))
        if CALL_START_RE.match(code) and not re.match(r"^\s*(if|while|for|switch|return|sizeof)\b",
                                                         code) and not line.startswith(" " * 0 + "static"):
            depth = 0
            end = i
            ok = False
            for j in range(i, min(i + 8, len(lines))):
                for ch, mk in zip(lines[j], masks[j]):
                    if mk != "c":
                        continue
                    depth += (ch == "(") - (ch == ")")
                tail = "".join(c for c, mk in zip(lines[j], masks[j]) if mk == "c").rstrip()
                if depth == 0 and tail.endswith(");"):
                    end = j
                    ok = True
                    break
                if depth == 0:
                    break
            indent = len(line) - len(line.lstrip())
            if ok and indent > 0:
                dropped = Mutant(path, i + 1, "drop-call", line, "")
                dropped.span = end - i + 1
                mutants.append(dropped)
                i = end + 1
                continue
        i += 1

    # Swap two adjacent one-line statements of the same indentation.
    for i in range(len(lines) - 1):
        a, b = lines[i], lines[i + 1]
        if not (a.rstrip().endswith(";") and b.rstrip().endswith(";")):
            continue
        if "c" not in masks[i] or "c" not in masks[i + 1]:
            continue
        ia, ib = len(a) - len(a.lstrip()), len(b) - len(b.lstrip())
        if ia != ib or ia == 0 or a.strip() == b.strip():
            continue
        if KEYWORD_START_RE.match(a) or KEYWORD_START_RE.match(b):
            continue
        if DECL_RE.match(a) or DECL_RE.match(b):
            continue  # swapping a declaration seldom compiles
        if a.count("(") != a.count(")") or b.count("(") != b.count(")"):
            continue
        mutant = Mutant(path, i + 1, "swap-statements", a, b, extra=(i + 2, b, a))
        mutants.append(mutant)
    return mutants


def apply_mutant(text, mutant):
    lines = text.split("\n")
    index = mutant.line - 1
    assert lines[index] == mutant.original, "source changed under the mutant"
    if mutant.operator == "drop-call":
        span = getattr(mutant, "span", 1)
        for j in range(index, index + span):
            lines[j] = ""
        lines[index] = " " * (len(mutant.original) - len(mutant.original.lstrip())) + ";"
    else:
        lines[index] = mutant.mutated
        if mutant.extra is not None:
            lines[mutant.extra[0] - 1] = mutant.extra[2]
    return "\n".join(lines)


# ---------------------------------------------------------------------------
# Equivalent mutants: tools/mutate-equivalents.tsv, one a line, "file operator
# original mutant why" separated by tabs, matched on the file, the operator and
# the two lines' text (not the line number, so that the record survives edits
# elsewhere in the file).

OPERATORS = ["negate-condition", "swap-condition", "change-constant", "change-string",
             "swap-arithmetic", "drop-call", "move-loop-bound", "swap-statements"]


def normalise(code):
    return re.sub(r"\s+", " ", code.strip())


def equivalent_rows():
    """(line number, key) of every row of the list; a row that is not five
    fields ends the run with its line."""
    rows = []
    with open(EQUIVALENTS, encoding="utf-8") as listed:
        for number, row in enumerate(listed, 1):
            if not row.strip() or row.startswith("#"):
                continue
            cells = row.rstrip("\n").split("\t")
            if len(cells) != 5 or cells[1] not in OPERATORS or not all(c.strip() for c in cells):
                sys.exit("mutate: %s:%d: not FILE OPERATOR ORIGINAL MUTANT WHY separated by tabs" %
                         (os.path.relpath(EQUIVALENTS, TOP), number))
            rows.append((number, (cells[0], cells[1], normalise(cells[2]), normalise(cells[3]))))
    return rows


def load_equivalents():
    return {key for _, key in equivalent_rows()}


def check_equivalents():
    """Every row must match a mutant of today's code, once: a row whose code
    changed or went is reported, as is a second row for the same mutant."""
    rows = equivalent_rows()
    live = set()
    for path in sorted({key[0] for _, key in rows}):
        if os.path.isfile(os.path.join(TOP, path)):
            live |= {equivalent_key(m) for m in all_mutants([path])}
    name = os.path.relpath(EQUIVALENTS, TOP)
    stale = 0
    seen = {}
    for number, key in rows:
        if key not in live:
            stale += 1
            print("%s:%d: no mutant of %s matches (%s: %s -> %s)" % (name, number, key[0], key[1],
                                                                     key[2], key[3]))
        elif key in seen:
            stale += 1
            print("%s:%d: the same mutant as line %d" % (name, number, seen[key]))
        seen.setdefault(key, number)
    print("mutate: %d equivalent mutants listed, %d stale" % (len(rows), stale))
    return 1 if stale else 0


def equivalent_key(mutant):
    after = mutant.extra[1] if mutant.extra is not None else (mutant.mutated or "(dropped)")
    return (mutant.path, mutant.operator, normalise(mutant.original), normalise(after))


# ---------------------------------------------------------------------------
# The build trees. A tree is a copy of the sources (src/) and its build folder
# (build/), built with Ninja and the sanitizers as the test command builds.
# The first tree is the --build folder itself; each further mutant worked on
# side by side (--jobs) has a tree of its own in a subfolder of it (tree-2,
# ...), and the coverage build (below) sits beside them in coverage/.

NINJA = shutil.which("ninja")
# GNU ld takes most of a mutant's link time; lld, where the host has it,
# about two thirds of that.
LINK_WITH = "-fuse-ld=lld" if shutil.which("ld.lld") else ""


def tree_files():
    """Every file the runner copies, as (path relative to the top, full path)."""
    for entry in COPIED:
        origin = os.path.join(TOP, entry)
        if os.path.isfile(origin):
            yield entry, origin
            continue
        for root, dirs, files in os.walk(origin):
            dirs[:] = sorted(d for d in dirs if not d.startswith("build") and d != "__pycache__")
            for name in sorted(files):
                full = os.path.join(root, name)
                yield os.path.relpath(full, TOP), full


def sync_sources(src):
    """Copies the tree into src, touching only files whose content differs,
    so that the build stays incremental between runs."""
    return sum(copy_if_different(full, os.path.join(src, rel)) for rel, full in tree_files())


def copy_if_different(origin, target):
    if os.path.exists(target):
        with open(origin, "rb") as a, open(target, "rb") as b:
            if a.read() == b.read():
                return 0
    os.makedirs(os.path.dirname(target), exist_ok=True)
    shutil.copyfile(origin, target)
    shutil.copymode(origin, target)
    return 1


def configure(src, build, extra=()):
    """Configures build from src with Ninja, once, and again when the
    settings change."""
    if NINJA is None:
        sys.exit("mutate: ninja is needed (Debian package ninja-build; "
                 "tools/install-deps.sh test installs it)")
    settings = ["-DQUORVENAL_SANITIZE=ON", "-DCMAKE_BUILD_TYPE=Debug", "-DQUORVENAL_BEDS=OFF",
                "-DQUORVENAL_MUTATION_SAMPLE=OFF"]
    settings += ["-DCMAKE_%s_LINKER_FLAGS=%s" % (kind, LINK_WITH)
                 for kind in ("EXE", "SHARED", "MODULE")]
    settings += list(extra)
    stamp = os.path.join(build, "mutate-settings.txt")
    wanted = "\n".join(settings) + "\n"
    if os.path.exists(os.path.join(build, "CMakeCache.txt")) and \
            not os.path.exists(os.path.join(build, "build.ninja")):
        shutil.rmtree(build)  # configured by an earlier runner with another generator
    if os.path.exists(os.path.join(build, "build.ninja")) and os.path.exists(stamp):
        with open(stamp, encoding="utf-8") as f:
            if f.read() == wanted:
                return
    run_checked(["cmake", "-S", src, "-B", build, "-G", "Ninja"] + settings)
    with open(stamp, "w", encoding="utf-8") as f:
        f.write(wanted)


def run_checked(command):
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if result.returncode != 0:
        sys.stderr.write(result.stdout[-4000:])
        sys.exit("mutate: command failed: " + " ".join(command))


def ninja(build_dir, targets, timeout):
    command = [NINJA, "-C", build_dir, "-j", str(os.cpu_count() or 2)] + list(targets)
    try:
        result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                text=True, timeout=timeout)
    except subprocess.TimeoutExpired:
        return False, "build timed out"
    return result.returncode == 0, result.stdout[-2000:]


def ctest_workdirs(build_dir):
    """The folder each test program runs in, as CTest runs it."""
    result = subprocess.run(["ctest", "--show-only=json-v1"], cwd=build_dir,
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    folders = {}
    try:
        tests = json.loads(result.stdout).get("tests", [])
    except ValueError:
        tests = []
    for test in tests:
        command = test.get("command") or []
        properties = {p["name"]: p["value"] for p in test.get("properties", [])}
        if command and "WORKING_DIRECTORY" in properties:
            folders.setdefault(os.path.basename(command[0]), properties["WORKING_DIRECTORY"])
    return folders


def object_sources(build_dir):
    """{source or header (absolute path): [objects compiled from it]}, from
    the dependencies Ninja recorded in the last build."""
    result = subprocess.run([NINJA, "-C", build_dir, "-t", "deps"], stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL, text=True)
    users = {}
    target = None
    for row in result.stdout.splitlines():
        if not row.strip():
            continue
        if not row[0].isspace():
            target = row.split(":", 1)[0]
            continue
        if target and target.endswith(".o"):
            path = row.strip()
            if not os.path.isabs(path):
                path = os.path.join(build_dir, path)
            users.setdefault(os.path.normpath(path), []).append(target)
    return users


def product_object(obj):
    """True for an object of the product's own code: CMake names it
    FOLDER/CMakeFiles/TARGET.dir/SOURCE.o, FOLDER app/ or ioctl/sys/."""
    return obj.startswith(PRODUCT_FOLDERS) and "/CMakeFiles/" in obj


def code_hash(build_dir, obj, scratch):
    """A hash of the object's code and data: everything but its debug
    information (line numbers move when a line's text does)."""
    stripped = os.path.join(scratch, "stripped.o")
    subprocess.run(["objcopy", "--strip-debug", os.path.join(build_dir, obj), stripped],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(stripped, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def exports_data(build_dir, obj):
    """True when the object defines data other objects may read (a table
    declared extern in a header, for one)."""
    result = subprocess.run(["nm", "--defined-only", os.path.join(build_dir, obj)],
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    for row in result.stdout.splitlines():
        parts = row.split()
        if len(parts) == 3 and parts[1] in "BDRGSVu" and not parts[2].startswith(
                ("__odr_asan", "__asan", "___asan", "__ubsan")):
            return True
    return False


class Tree:
    def __init__(self, root):
        self.root = root
        self.src = os.path.join(root, "src")
        self.build = os.path.join(root, "build")
        self.scratch = os.path.join(root, "scratch")
        self.users = {}       # source path (absolute) -> objects compiled from it
        self.hashes = {}      # object -> code_hash of the unmutated build
        self.workdirs = {}    # test program -> the folder it runs in
        self.killers = {}     # file -> the test that killed its last mutant

    def objects_of(self, path):
        return self.users.get(os.path.normpath(os.path.join(self.src, path)), [])

    def prepare(self, files, programs, timeout):
        """Refreshes the copy, builds the test programs and notes what the
        unmutated objects compiled from the mutated files hold."""
        os.makedirs(self.scratch, exist_ok=True)
        sync_sources(self.src)
        # Without debug information: a mutant's tests need none (a failure
        # is all they report), and leaving it out makes each compile and,
        # above all, each link of a test program cheaper. A test program
        # binds to the stand-in library (and so to the machine-file reader in
        # it) when it starts, so a mutant of that library relinks the library
        # alone, not every program that uses it.
        configure(self.src, self.build, ["-DCMAKE_CXX_FLAGS_DEBUG=-g0", "-DCMAKE_C_FLAGS_DEBUG=-g0",
                                         "-DCMAKE_LINK_DEPENDS_NO_SHARED=ON"])
        ok, log = ninja(self.build, programs, timeout)
        if not ok:
            sys.stderr.write(log)
            sys.exit("mutate: the unmutated tree does not build (%s)" % self.build)
        self.workdirs = ctest_workdirs(self.build)
        self.users = object_sources(self.build)
        if not self.users:
            sys.exit("mutate: ninja recorded no dependencies in %s" % self.build)
        for path in files:
            for obj in self.objects_of(path):
                if obj not in self.hashes:
                    self.hashes[obj] = code_hash(self.build, obj, self.scratch)


# ---------------------------------------------------------------------------
# Running tests. A batch is some tests of one program (all of them when
# tests is None); batches run side by side, and the first failure stops them
# all.

RUNNING = set()          # processes of every batch running, to end them on a stop
RUNNING_LOCK = threading.Lock()
STOPPING = threading.Event()


class Batch:
    def __init__(self, program, tests, seconds, extra=()):
        self.program = program
        self.tests = tests
        self.seconds = seconds
        self.extra = list(extra)


def end_process(process):
    try:
        os.killpg(process.pid, signal.SIGKILL)
    except OSError:
        pass
    process.wait()
    with RUNNING_LOCK:
        RUNNING.discard(process)


def run_batches(tree, batches, jobs, limit_of, env, ensure=None):
    """Runs the batches, jobs at a time; ensure(program), when given, builds
    a program before its first batch starts and returns False when it does
    not build. Returns (outcome, detail, test) with test the failed test's
    id when known."""
    pending = list(batches)
    running = []
    try:
        while pending or running:
            while pending and len(running) < jobs and not STOPPING.is_set():
                batch = pending.pop(0)
                if ensure is not None and not ensure(batch.program):
                    return "did-not-build", batch.program, None
                command = [os.path.join(tree.build, batch.program), "--gtest_brief=1",
                           "--gtest_fail_fast"] + batch.extra
                if batch.tests is not None:
                    command.append("--gtest_filter=" + ":".join(batch.tests))
                out = tempfile.TemporaryFile(dir=tree.scratch)
                process = subprocess.Popen(command, cwd=tree.workdirs.get(batch.program, tree.build),
                                           stdout=out, stderr=subprocess.STDOUT, env=env,
                                           start_new_session=True)
                with RUNNING_LOCK:
                    RUNNING.add(process)
                running.append((process, batch, time.time(), out))
            if STOPPING.is_set():
                return "stopped", "", None
            time.sleep(0.02)
            for entry in list(running):
                process, batch, started, out = entry
                code = process.poll()
                if code is None:
                    if time.time() - started > limit_of(batch):
                        return "timed-out", "%s (over %.0f s)" % (batch.program, limit_of(batch)), None
                    continue
                running.remove(entry)
                with RUNNING_LOCK:
                    RUNNING.discard(process)
                if code != 0:
                    out.seek(0)
                    output = out.read().decode("utf-8", "replace")
                    failed = re.findall(r"\[  FAILED  \] (\S+)", output)
                    if failed:
                        return "killed", "%s %s" % (batch.program, failed[0]), \
                            "%s:%s" % (batch.program, failed[0])
                    return "killed", "%s exit %d" % (batch.program, code), None
                out.close()
        return "survived", "", None
    finally:
        for process, _, _, out in running:
            end_process(process)
            out.close()


def test_env():
    env = dict(os.environ)
    env.setdefault("ASAN_OPTIONS", "detect_leaks=1")
    return env


def baseline(tree, programs, timeout, jobs):
    """Runs every test program whole on the unmutated tree (all must pass)
    and returns {test id: seconds} and {program: seconds outside its tests}."""
    seconds, overhead = {}, {}
    for program in programs:
        report = os.path.join(tree.scratch, "baseline-%s.json" % program)
        if os.path.exists(report):
            os.remove(report)
    batches = [Batch(p, None, 0, ["--gtest_output=json:" + os.path.join(
        tree.scratch, "baseline-%s.json" % p)]) for p in programs]
    started = time.time()
    outcome, detail, _ = run_batches(tree, batches, jobs, lambda b: timeout * 4, test_env())
    if outcome != "survived":
        sys.exit("mutate: the unmutated tree fails its tests (%s: %s) in %s" %
                 (outcome, detail, tree.build))
    for program in programs:
        with open(os.path.join(tree.scratch, "baseline-%s.json" % program), encoding="utf-8") as f:
            result = json.load(f)
        total = 0.0
        for suite in result.get("testsuites", []):
            for case in suite.get("testsuite", []):
                if case.get("status", "RUN") != "RUN":
                    continue
                t = float(str(case.get("time", "0s")).rstrip("s") or 0)
                seconds["%s:%s.%s" % (program, suite["name"], case["name"])] = t
                total += t
        overhead[program] = max(0.2, float(str(result.get("time", "0s")).rstrip("s") or 0) - total)
    return seconds, overhead, time.time() - started


# ---------------------------------------------------------------------------
# The coverage map: which test executes which line of the product code. The
# first tree's sources are built once more with --coverage (and the
# sanitizers, so that the same tests exist) in coverage/, each test of each
# program is run alone there, and gcov reads what it executed. The map is kept
# in coverage-map.json, keyed by the content of every file the runner copies,
# and rebuilt only when one changes.

COVERAGE_FORMAT = 2
PRODUCT_FOLDERS = ("app/", "ioctl/sys/")


def tree_key(programs):
    digest = hashlib.sha256(("%d %s\n" % (COVERAGE_FORMAT, " ".join(programs))).encode())
    for rel, full in tree_files():
        if rel.startswith("tools/mutate"):
            continue  # the runner and its lists build nothing
        digest.update(rel.encode() + b"\0")
        with open(full, "rb") as f:
            digest.update(hashlib.sha256(f.read()).digest())
    return digest.hexdigest()


def list_tests(executable):
    result = subprocess.run([executable, "--gtest_list_tests"], stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL, text=True, cwd=os.path.dirname(executable))
    tests, suite = [], None
    for row in result.stdout.splitlines():
        name = row.split("#", 1)[0].rstrip()
        if not name.strip():
            continue
        if not row[0].isspace():
            suite = name.strip()
        elif suite:
            tests.append(suite + name.strip())
    return tests


class CoverageMap:
    def __init__(self, data):
        self.tests = data["tests"]                   # test ids, by index
        self.failed_alone = set(data["failed_alone"])
        self.lines = {f: {int(n): set(ts) for n, ts in rows.items()}
                      for f, rows in data["lines"].items()}
        self.data = {f: set(rows) for f, rows in data["data"].items()}
        self.seconds = data.get("seconds", 0)

    def executing(self, path, line):
        return {self.tests[i] for i in self.lines.get(path, {}).get(line, ())}

    def executing_file(self, path):
        found = set()
        for indices in self.lines.get(path, {}).values():
            found |= indices
        return {self.tests[i] for i in found}


def coverage_run(cov, workdirs, index, test, scratch, env):
    """Runs one test alone in the coverage build; returns (passed, {file:
    {line: count}}) for the product files."""
    program, name = test.split(":", 1)
    prefix = os.path.join(scratch, "run-%d" % index)
    shutil.rmtree(prefix, ignore_errors=True)
    os.makedirs(prefix)
    env = dict(env, GCOV_PREFIX=prefix, GCOV_PREFIX_STRIP="0")
    result = subprocess.run([os.path.join(cov, program), "--gtest_filter=" + name],
                            cwd=workdirs.get(program, cov), env=env, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL, timeout=600)
    counts = {}
    gcdas = []
    for root, _, names in os.walk(prefix):
        for n in names:
            if n.endswith(".gcda"):
                gcda = os.path.join(root, n)
                gcno = gcda[len(prefix):][:-len(".gcda")] + ".gcno"
                if os.path.exists(gcno):
                    os.symlink(gcno, gcda[:-len(".gcda")] + ".gcno")
                    gcdas.append(gcda)
    for start in range(0, len(gcdas), 200):
        out = subprocess.run(["gcov", "--json-format", "--stdout"] + gcdas[start:start + 200],
                             cwd=prefix, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                             text=True)
        for row in out.stdout.splitlines():
            row = row.strip()
            if not row.startswith("{"):
                continue
            for entry in json.loads(row).get("files", []):
                counts_of_file = counts.setdefault(os.path.normpath(entry["file"]), {})
                for line in entry.get("lines", []):
                    n = line["line_number"]
                    counts_of_file[n] = counts_of_file.get(n, 0) + line["count"]
    shutil.rmtree(prefix, ignore_errors=True)
    return result.returncode == 0, counts


def coverage_map(args, tree, programs):
    key = tree_key(programs)
    cache = os.path.join(args.build, "coverage-map.json")
    if os.path.exists(cache):
        with open(cache, encoding="utf-8") as f:
            data = json.load(f)
        if data.get("key") == key:
            return CoverageMap(data)
    started = time.time()
    cov = os.path.join(args.build, "coverage")
    print("mutate: building the coverage map (%s)" % cov, flush=True)
    # Only the functions of the product's files (app/, ioctl/) are counted,
    # wherever they are compiled: a test that includes a product header as
    # "../../ioctl/sys/x.h" compiles its inline functions too, and the linker
    # may keep that copy, so the pattern takes the folder anywhere in the
    # path (GCC matches it against the path as the file was included).
    # (quoted: Ninja runs each command through the shell)
    configure(tree.src, cov, ["-DCMAKE_CXX_FLAGS=--coverage '-fprofile-filter-files=/(app|ioctl)/'",
                              "-DCMAKE_C_FLAGS=--coverage"])
    ok, log = ninja(cov, programs, 7200)
    if not ok:
        sys.stderr.write(log)
        sys.exit("mutate: the coverage build failed")
    workdirs = ctest_workdirs(cov)
    tests = ["%s:%s" % (p, t) for p in programs for t in list_tests(os.path.join(cov, p))]
    scratch = os.path.join(cov, "runs")
    os.makedirs(scratch, exist_ok=True)
    env = test_env()
    results = [None] * len(tests)

    def one(index):
        results[index] = coverage_run(cov, workdirs, index, tests[index], scratch, env)

    run_threads(one, range(len(tests)), args.test_jobs)
    top = os.path.normpath(tree.src) + os.sep
    lines, data, failed = {}, {}, []
    for index, (passed, counts) in enumerate(results):
        if not passed:
            failed.append(tests[index])
            continue
        for path, rows in counts.items():
            if not path.startswith(top):
                continue
            rel = path[len(top):]
            if not rel.startswith(PRODUCT_FOLDERS):
                continue
            data.setdefault(rel, set()).update(rows)
            for n, count in rows.items():
                if count > 0:
                    lines.setdefault(rel, {}).setdefault(n, []).append(index)
    for test in failed:
        print("mutate: %s fails when run alone in the coverage build; no mutant runs it" % test)
    data = {"key": key, "tests": tests, "failed_alone": failed,
            "lines": {f: {str(n): ts for n, ts in rows.items()} for f, rows in lines.items()},
            "data": {f: sorted(rows) for f, rows in data.items()},
            "seconds": time.time() - started}
    with open(cache + ".new", "w", encoding="utf-8") as f:
        json.dump(data, f)
    os.replace(cache + ".new", cache)
    print("mutate: coverage map of %d tests built in %.0f s" % (len(tests), time.time() - started),
          flush=True)
    return CoverageMap(data)


def run_threads(function, items, count):
    """Calls function on every item, count threads at a time."""
    queue = list(items)
    lock = threading.Lock()
    errors = []

    def worker():
        while not STOPPING.is_set():
            with lock:
                if not queue:
                    return
                item = queue.pop(0)
            try:
                function(item)
            except BaseException as error:  # noqa: B902 - reported in the main thread
                errors.append(error)
                STOPPING.set()
                return

    threads = [threading.Thread(target=worker, daemon=True) for _ in range(max(1, count))]
    for thread in threads:
        thread.start()
    for thread in threads:
        while thread.is_alive():
            thread.join(0.5)
    if errors:
        raise errors[0]


# ---------------------------------------------------------------------------
# Which tests a mutant runs.

SWITCH_RE = re.compile(r"\bswitch\s*\(")
CASE_RE = re.compile(r"^\s*(case\b|default\s*:)")


DEFINITION_RES = [
    re.compile(r"^\s*#\s*define\s+(\w+)\s"),
    # const T NAME = ...; T NAME[N] = { ...
    re.compile(r"^\s*(?:static\s+|const\s+|constexpr\s+|volatile\s+|unsigned\s+)*"
               r"[A-Za-z_][\w:<>]*[\s*&]+(?:const\s+)?([A-Za-z_]\w*)\s*(?:\[[^\]]*\])?\s*="),
    # an enumerator: NAME = value,
    re.compile(r"^\s*([A-Za-z_]\w*)\s*=\s*[^=;]*,?\s*(//.*)?$"),
]


ONE_LINE_ENUM_RE = re.compile(r"^\s*enum\s*\w*\s*\{([^{}]*)\}\s*;")


def code_of(row):
    return row.split("//", 1)[0].rstrip()


def statement_lines(text_lines, line):
    """The lines of the statement a line is part of, when it runs over
    several: up to the line ending the one before, down to its ';'."""
    start = line
    while start > 1:
        above = code_of(text_lines[start - 2])
        if not above.strip() or above.lstrip().startswith("#") or above.endswith((";", "{", "}", ":")):
            break
        start -= 1
    end = line
    while end < len(text_lines) and not code_of(text_lines[end - 1]).endswith((";", "{", "}")):
        end += 1
    return range(start, end + 1)


def defined_name(text_lines, line):
    """The name a line without line data defines: a constant, a macro, an
    enumerator, or the table or text whose initialiser the line is part of;
    None when it is none of these (a struct member, a declaration)."""
    for pattern in DEFINITION_RES:
        m = pattern.match(text_lines[line - 1])
        if m:
            return m.group(1)
    # Inside an initialiser: up through its other lines to the definition.
    for k in range(line - 1, max(0, line - 200), -1):
        text = text_lines[k - 1]
        m = DEFINITION_RES[1].match(text)
        if m:
            return m.group(1)
        code = code_of(text)
        if not code.strip() or code.endswith(";") or not text[0].isspace():
            return None
    return None


class NameIndex:
    """Where each word is written in code: the product's C++ files, line by
    line, and whether any other file of the tree (tests, the stand-in, the
    resource scripts) writes it."""

    def __init__(self, coverage):
        self.coverage = coverage
        self.product = {}
        self.elsewhere = set()
        self.texts = {}
        for rel, full in tree_files():
            if rel.startswith(("tools/", "machines/", "cmake/")) or rel.endswith(
                    (".md", ".lspci", ".ico", ".png", ".res")):
                continue
            try:
                with open(full, encoding="utf-8") as f:
                    text = f.read()
            except (UnicodeDecodeError, OSError):
                continue
            if rel.startswith(PRODUCT_FOLDERS) and rel.endswith((".cpp", ".h")):
                lines = text.split("\n")
                for n, (row, mask) in enumerate(zip(lines, code_mask(lines)), 1):
                    code = "".join(c if k == "c" else " " for c, k in zip(row, mask))
                    for word in set(re.findall(r"[A-Za-z_]\w*", code)):
                        self.product.setdefault(word, []).append((rel, n))
            else:
                self.elsewhere.update(re.findall(r"[A-Za-z_]\w*", text))

    def lines_of(self, rel):
        if rel not in self.texts:
            with open(os.path.join(TOP, rel), encoding="utf-8") as f:
                self.texts[rel] = f.read().split("\n")
        return self.texts[rel]

    def uses(self, name, path, line, depth=0):
        """The product lines with line data that name it, or None when one
        cannot tell (named outside the product's C++, or on a line without
        line data that is neither its definition, an extern declaration nor
        the definition of another name whose uses are known)."""
        if name in self.elsewhere or len(name) < 3 or depth > 3:
            return None
        found = []
        for rel, n in self.product.get(name, []):
            if rel == path and n == line:
                continue
            if n in self.coverage.data.get(rel, ()):
                found.append((rel, n))
                continue
            text = self.lines_of(rel)
            if re.match(r"^\s*extern\b", text[n - 1]):
                continue
            other = defined_name(text, n)
            if other == name:
                continue
            further = self.uses(other, rel, n, depth + 1) if other else None
            if further is None:
                return None
            found += further
        return found


class Selector:
    """Chooses a mutant's tests: with a coverage map, those that execute the
    mutated line; without one, every test of the programs for its folder."""

    def __init__(self, coverage, seconds, overhead, tree):
        self.coverage = coverage
        self.seconds = seconds          # test id -> seconds in the baseline
        self.overhead = overhead
        self.tree = tree
        self.exported = {}
        self.names = NameIndex(coverage) if coverage else None
        self.by_program = {}
        for test in seconds:
            self.by_program.setdefault(test.split(":", 1)[0], []).append(test)
        # Tests the map does not know (none, when it is up to date) run for
        # every mutant of their programs' folders.
        known = set(coverage.tests) if coverage else set()
        self.unmapped = {t for t in seconds if t not in known} if coverage else set()

    def folder_tests(self, path):
        found = set()
        for program in programs_for(path):
            found.update(self.by_program.get(program, []))
        return found

    def exports(self, path):
        if path not in self.exported:
            self.exported[path] = any(exports_data(self.tree.build, obj)
                                      for obj in self.tree.objects_of(path))
        return self.exported[path]

    def fallback(self, path, text_lines, line):
        """For a line gcov reports nothing on (a declaration, a table entry,
        a constant): for a line of a statement that runs over several, the
        tests that execute the statement's other lines; the tests that
        execute a line of the product code that names what the line defines, when every such line has line data and
        only the product's C++ names it; else, in a source file whose data no
        other file can name, every test that runs any of its code; otherwise
        every test of the folder's programs."""
        statement = [n for n in statement_lines(text_lines, line)
                     if n in self.coverage.data.get(path, ())]
        if statement:
            chosen = set()
            for n in statement:
                chosen |= self.coverage.executing(path, n)
            return chosen
        enum = ONE_LINE_ENUM_RE.match(text_lines[line - 1])
        names = re.findall(r"([A-Za-z_]\w*)\s*(?:=[^,]*)?(?:,|$)", enum.group(1).strip()) if enum else \
            [defined_name(text_lines, line)]
        if all(names) and names:
            chosen = set()
            for name in names:
                uses = self.names.uses(name, path, line)
                if uses is None:
                    break
                for use_path, use_line in uses:
                    chosen |= self.coverage.executing(use_path, use_line)
            else:
                return chosen
        if path.endswith(".cpp") and path in self.coverage.data and not self.exports(path):
            return self.coverage.executing_file(path)
        return self.folder_tests(path)

    def tests(self, mutant, text_lines):
        """(test ids, how they were chosen)."""
        if self.coverage is None:
            return self.folder_tests(mutant.path), "folder"
        path = mutant.path
        lines = [mutant.line]
        if mutant.operator == "drop-call":
            lines = list(range(mutant.line, mutant.line + getattr(mutant, "span", 1)))
        elif mutant.extra is not None:
            lines.append(mutant.extra[0])
        with_data = self.coverage.data.get(path, set())
        how = "lines"
        if mutant.operator == "drop-call":
            known = [n for n in lines if n in with_data]
            if not known:
                how = "no line data"
            lines = known
        elif any(n not in with_data for n in lines):
            how = "no line data"
        if how == "no line data":
            chosen = set(self.fallback(path, text_lines, mutant.line))
        else:
            chosen = set()
            for n in lines:
                chosen |= self.coverage.executing(path, n)
                # A case label decides at its switch which code runs.
                if CASE_RE.match(text_lines[n - 1]):
                    for k in range(n - 1, 0, -1):
                        if SWITCH_RE.search(text_lines[k - 1]):
                            chosen |= self.coverage.executing(path, k)
                            break
        if chosen:
            chosen |= self.unmapped & self.folder_tests(path)
        chosen -= self.coverage.failed_alone
        return {t for t in chosen if t in self.seconds}, how

    def batches(self, tests, first=None, chunk=2.0):
        """Batches of at most about chunk seconds each, of one program each,
        cheapest first; the test that killed the file's last mutant leads."""
        by_program = {}
        for test in tests:
            by_program.setdefault(test.split(":", 1)[0], []).append(test)
        batches = []
        for program, names in by_program.items():
            names.sort(key=lambda t: (t != first, self.seconds.get(t, 1.0), t))
            cost = self.overhead.get(program, 0.2)
            current, spent = [], cost
            for test in names:
                if current and spent + self.seconds.get(test, 1.0) > chunk:
                    batches.append(Batch(program, current, spent))
                    current, spent = [], cost
                current.append(test.split(":", 1)[1])
                spent += self.seconds.get(test, 1.0)
            if current:
                batches.append(Batch(program, current, spent))
        lead = first.split(":", 1)[1] if first else None
        batches.sort(key=lambda b: (not (lead and lead in b.tests and first.startswith(b.program + ":")),
                                    b.seconds))
        return batches


# ---------------------------------------------------------------------------
# One mutant.

PHASES = ("compile", "compare", "link", "test")


class Runner:
    def __init__(self, args, selector_of, equivalents, total, report):
        self.args = args
        self.selector_of = selector_of   # tree -> Selector
        self.equivalents = equivalents
        self.total = total
        self.done = 0
        self.report = report
        self.lock = threading.Lock()
        self.phases = {p: 0.0 for p in PHASES}
        self.env = test_env()

    def limit(self, batch):
        """A batch may run five times what it took on the unmutated tree
        and 10 s more, and never past --timeout."""
        return min(self.args.timeout, 10 + 5 * batch.seconds)

    def add_phase(self, phase, seconds):
        with self.lock:
            self.phases[phase] += seconds

    def run_file(self, tree, path, mutants):
        target = os.path.join(tree.src, path)
        with open(target, encoding="utf-8") as f:
            original = f.read()
        text_lines = original.split("\n")
        try:
            for mutant in mutants:
                if STOPPING.is_set():
                    return
                t0 = time.time()
                with open(target, "w", encoding="utf-8") as f:
                    f.write(apply_mutant(original, mutant))
                mutant.outcome, mutant.detail = self.run_mutant(tree, mutant, text_lines)
                if mutant.outcome == "stopped":
                    mutant.outcome = None
                    return
                mutant.seconds = time.time() - t0
                self.print_mutant(mutant)
        finally:
            with open(target, "w", encoding="utf-8") as f:
                f.write(original)

    def run_mutant(self, tree, mutant, text_lines):
        selector = self.selector_of(tree)
        build_timeout = max(self.args.timeout * 10, 600)
        if equivalent_key(mutant) in self.equivalents:
            return "equivalent", "listed"
        objects = tree.objects_of(mutant.path)
        if not objects:
            # Nothing the test programs are built from includes it.
            return "survived", "not covered (not compiled for the tests)"
        # The product's objects decide: a test object that includes a product
        # header is rebuilt when its program is linked.
        product = [obj for obj in objects if product_object(obj)] or objects
        if self.args.no_object_check:
            same = False
        else:
            t0 = time.time()
            ok, log = ninja(tree.build, product, build_timeout)
            self.add_phase("compile", time.time() - t0)
            if not ok:
                return "did-not-build", "compile"
            t0 = time.time()
            same = all(code_hash(tree.build, obj, tree.scratch) == tree.hashes.get(obj)
                       for obj in product)
            self.add_phase("compare", time.time() - t0)
        if same:
            return "equivalent", "same object code"
        tests, how = selector.tests(mutant, text_lines)
        if not tests:
            return "survived", "not covered"
        programs = sorted({t.split(":", 1)[0] for t in tests})
        first = self.args.first.get(mutant.key()) or tree.killers.get(mutant.path)
        # Each program is linked when its first batch is due: a mutant the
        # first batches kill links no more than they need.
        linked = {}
        link_time = [0.0]

        def ensure(program):
            if program not in linked:
                t1 = time.time()
                linked[program], _ = ninja(tree.build, [program], build_timeout)
                link_time[0] += time.time() - t1
            return linked[program]

        t0 = time.time()
        outcome, detail, killer = run_batches(tree, selector.batches(tests, first),
                                              self.args.test_jobs, self.limit, self.env, ensure)
        self.add_phase("link", link_time[0])
        self.add_phase("test", time.time() - t0 - link_time[0])
        if killer:
            tree.killers[mutant.path] = killer
        if outcome == "survived":
            detail = "%d tests of %d programs%s" % (len(tests), len(programs),
                                                    ", no line data" if how == "no line data" else "")
        return outcome, detail

    def print_mutant(self, mutant):
        with self.lock:
            self.done += 1
            line = "[%d/%d] %s:%d %s %s: %s  (%.0f s) %s" % (
                self.done, self.total, mutant.path, mutant.line, mutant.operator,
                mutant.outcome.upper(), mutant.describe(), mutant.seconds, mutant.detail)
            print(line, flush=True)
            if self.report:
                self.report.write(line + "\n")
                self.report.flush()


# ---------------------------------------------------------------------------


def collect(patterns):
    files = []
    for pattern in patterns:
        folder = os.path.dirname(pattern) or "."
        base = os.path.basename(pattern)
        full = os.path.join(TOP, folder)
        if os.path.isfile(os.path.join(TOP, pattern)):
            files.append(os.path.normpath(pattern))
            continue
        if not os.path.isdir(full):
            continue
        for name in sorted(os.listdir(full)):
            if fnmatch.fnmatch(name, base) and os.path.isfile(os.path.join(full, name)):
                files.append(os.path.normpath(os.path.join(folder, name)))
    return sorted(set(files))


def all_mutants(files):
    mutants = []
    for path in files:
        with open(os.path.join(TOP, path), encoding="utf-8") as source:
            mutants += file_mutants(path, source.read())
    return mutants


def summarise(mutants, out):
    def score_line(label, group):
        counts = {k: 0 for k in ("killed", "timed-out", "survived", "did-not-build", "equivalent")}
        for m in group:
            counts[m.outcome] += 1
        uncovered = sum(1 for m in group
                        if m.outcome == "survived" and m.detail.startswith("not covered"))
        same = sum(1 for m in group
                   if m.outcome == "equivalent" and m.detail.startswith("same object code"))
        caught = counts["killed"] + counts["timed-out"]
        relevant = caught + counts["survived"]
        score = "%.1f%%" % (100.0 * caught / relevant) if relevant else "-"
        out.write("%-34s %6d %6d %8d %8d %8d %10d %7d %9d  %s\n" % (
            label, len(group), counts["killed"], counts["timed-out"], counts["survived"], uncovered,
            counts["equivalent"], same, counts["did-not-build"], score))

    out.write("\n%-34s %6s %6s %8s %8s %8s %10s %7s %9s  %s\n" % (
        "", "total", "killed", "timeout", "survived", "(not", "equivalent", "(same", "not-built",
        "score"))
    out.write("%-34s %6s %6s %8s %8s %8s %10s %7s %9s\n" % (
        "", "", "", "", "", "covered)", "", "code)", ""))
    done = [m for m in mutants if m.outcome]
    for path in sorted({m.path for m in done}):
        score_line(path, [m for m in done if m.path == path])
    folders = sorted({os.path.dirname(m.path) for m in done})
    for folder in folders:
        score_line(folder + "/ (all)", [m for m in done if os.path.dirname(m.path) == folder])
        if any(f.startswith(folder + "/") for f in folders):
            score_line(folder + "/ and below", [m for m in done
                                                if m.path.startswith(folder + "/")])
    score_line("all", done)
    out.write("score = (killed + timed-out) / (killed + timed-out + survived); "
              "equivalent and not-built mutants do not count\n")


REPORT_LINE_RE = re.compile(r"^\[\d+/\d+\] (\S+):(\d+) (\S+) ([A-Z-]+): (.*)  \(\d+ s\) ?(.*)$")


def read_report(path):
    """The mutants of a report written earlier, with their outcomes."""
    mutants = []
    with open(path, encoding="utf-8") as report:
        for row in report:
            m = REPORT_LINE_RE.match(row.rstrip("\n"))
            if not m:
                continue
            file, line, operator, outcome, change, detail = m.groups()
            if "  <->  " in change:
                before, after = change.split("  <->  ", 1)
                mutant = Mutant(file, int(line), operator, before, after, extra=(0, after, before))
            else:
                before, after = change.split("  ->  ", 1)
                mutant = Mutant(file, int(line), operator, before,
                                "" if after == "(dropped)" else after)
            mutant.outcome = outcome.lower()
            mutant.detail = detail
            mutants.append(mutant)
    return mutants


def rescore(paths):
    """Summary of earlier reports, with today's list of equivalent mutants. A
    mutant a later report holds (its line run again, say) takes the place of
    the same mutant in an earlier one."""
    equivalents = load_equivalents()
    mutants = []
    where = {}
    for path in paths:
        for mutant in read_report(path):
            key = (mutant.line,) + equivalent_key(mutant)
            if key in where:
                mutants[where[key]] = mutant
            else:
                where[key] = len(mutants)
                mutants.append(mutant)
    for mutant in mutants:
        if mutant.outcome in ("survived", "equivalent") and \
                not mutant.detail.startswith("same object code"):
            mutant.outcome = ("equivalent" if equivalent_key(mutant) in equivalents
                              else "survived")
    print("Survivors:")
    for m in mutants:
        if m.outcome == "survived":
            print("  %s:%d: %s: %s" % (m.path, m.line, m.operator, m.describe()))
    summarise(mutants, sys.stdout)
    return 0


# ---------------------------------------------------------------------------
# The fixed sample the test command runs (tools/mutate-sample.tsv): mutants
# the tests killed in a full run, matched like the equivalent ones on file,
# operator and the two lines' text. One that survives fails the run.

SAMPLE = os.path.join(TOP, "tools", "mutate-sample.tsv")


def sample_rows(path):
    rows = []
    with open(path, encoding="utf-8") as listed:
        for number, row in enumerate(listed, 1):
            if not row.strip() or row.startswith("#"):
                continue
            cells = row.rstrip("\n").split("\t")
            if len(cells) != 5 or cells[1] not in OPERATORS:
                sys.exit("mutate: %s:%d: not FILE OPERATOR ORIGINAL MUTANT KILLED-BY separated by "
                         "tabs" % (path, number))
            rows.append((number, (cells[0], cells[1], normalise(cells[2]), normalise(cells[3])),
                         cells[4].strip()))
    return rows


def pick_sample(report, count, seed):
    """Rows for the sample file: count mutants the report has killed by a
    named test, chosen by the seed, at most two from any one file."""
    killed = [m for m in read_report(report) if m.outcome == "killed" and
              re.match(r"^\S+ [\w/]+\.[\w/]+$", m.detail)]
    random.Random(seed).shuffle(killed)
    chosen, per_file = [], {}
    for m in killed:
        if per_file.get(m.path, 0) >= 2:
            continue
        per_file[m.path] = per_file.get(m.path, 0) + 1
        chosen.append(m)
        if len(chosen) == count:
            break
    for m in sorted(chosen, key=lambda m: (m.path, m.line)):
        key = equivalent_key(m)
        program, test = m.detail.split(" ", 1)
        print("\t".join([m.path, m.operator, m.original.strip(), key[3], "%s:%s" % (program, test)]))
    return 0


# ---------------------------------------------------------------------------


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--files", nargs="+", default=DEFAULT_FILES,
                        help="source files or patterns, relative to the top (default: %(default)s)")
    parser.add_argument("--max", type=int, default=0, help="run at most N mutants (a sample)")
    parser.add_argument("--seed", type=int, default=1, help="seed of the sample (default 1)")
    parser.add_argument("--timeout", type=float, default=60,
                        help="the most seconds one batch of tests may run on a mutant "
                             "(default 60)")
    parser.add_argument("--build", default=os.path.join(TOP, "build-mutate"),
                        help="the runner's own build trees (default build-mutate)")
    parser.add_argument("--jobs", type=int, default=2,
                        help="mutants worked on side by side, each in a tree of its own (default 2)")
    parser.add_argument("--test-jobs", type=int, default=2,
                        help="test programs run side by side for one mutant (default 2)")
    parser.add_argument("--no-coverage-map", action="store_true",
                        help="run every test of the folder's programs, not only those that "
                             "execute the mutated line")
    parser.add_argument("--no-object-check", action="store_true",
                        help="run the tests even when the mutant's object code is unchanged")
    parser.add_argument("--operators", nargs="+", help="only these operators")
    parser.add_argument("--lines", nargs="+",
                        help="only mutants on these lines: N for a line of every file, FILE:N for "
                             "a line of one file")
    parser.add_argument("--list", action="store_true", help="list the mutants and stop")
    parser.add_argument("--report", help="also write the report to this file")
    parser.add_argument("--rescore", metavar="REPORT", nargs="+",
                        help="read reports written earlier (a mutant of a later one replaces the "
                             "same mutant of an earlier one), apply the equivalent mutants now "
                             "listed in tools/mutate-equivalents.tsv, and print the summary")
    parser.add_argument("--check-equivalents", action="store_true",
                        help="check that every listed equivalent mutant matches today's code")
    parser.add_argument("--sample", metavar="FILE", nargs="?", const=SAMPLE,
                        help="run the fixed sample of FILE (default tools/mutate-sample.tsv) "
                             "and fail if one survives")
    parser.add_argument("--pick-sample", metavar="REPORT",
                        help="print --max rows for the sample file, killed mutants of REPORT "
                             "chosen by --seed")
    args = parser.parse_args()
    if args.rescore:
        return rescore(args.rescore)
    if args.check_equivalents:
        return check_equivalents()
    if args.pick_sample:
        return pick_sample(args.pick_sample, args.max or 25, args.seed)
    args.build = os.path.abspath(args.build)
    args.first = {}

    sample = None
    if args.sample:
        sample = sample_rows(args.sample)
        files = sorted({key[0] for _, key, _ in sample})
        wanted = {key: (number, first) for number, key, first in sample}
        mutants = [m for m in all_mutants([f for f in files if os.path.isfile(os.path.join(TOP, f))])
                   if equivalent_key(m) in wanted]
        found = {equivalent_key(m) for m in mutants}
        stale = [(number, key) for number, key, _ in sample if key not in found]
        for number, key in stale:
            print("%s:%d: no mutant of %s matches (%s: %s -> %s); pick another killed one "
                  "(docs/testing.md)" % (os.path.relpath(args.sample, TOP), number, key[0], key[1],
                                         key[2], key[3]))
        if stale:
            return 1
        for m in mutants:
            args.first[m.key()] = wanted[equivalent_key(m)][1]
        # Every test of the folder's programs, the one that killed it first:
        # no coverage build, one tree.
        args.no_coverage_map = True
        args.jobs = 1
    else:
        files = collect(args.files)
        if not files:
            sys.exit("mutate: no source files match %s" % " ".join(args.files))
        mutants = all_mutants(files)
        if args.operators:
            mutants = [m for m in mutants if m.operator in args.operators]
        if args.lines:
            wanted = set()
            for item in args.lines:
                path, _, number = item.rpartition(":")
                if not number.isdigit():
                    sys.exit("mutate: --lines takes N or FILE:N, not %s" % item)
                wanted.add((os.path.normpath(path) if path else None, int(number)))
            mutants = [m for m in mutants
                       if (None, m.line) in wanted or (os.path.normpath(m.path), m.line) in wanted]
        if args.max and len(mutants) > args.max:
            mutants = random.Random(args.seed).sample(mutants, args.max)
    # In file order, so that consecutive mutants rebuild the same objects.
    mutants.sort(key=lambda m: (m.path, m.line, m.operator, m.mutated))

    if args.list:
        for m in mutants:
            print("%s:%d: %s: %s" % (m.path, m.line, m.operator, m.describe()))
        print("%d mutants in %d files" % (len(mutants), len(files)))
        return 0

    equivalents = load_equivalents()
    started = time.time()
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("mutate: stopped"))
    programs = ALL_PROGRAMS
    mutated_files = sorted({m.path for m in mutants})
    trees = [Tree(args.build)] + [Tree(os.path.join(args.build, "tree-%d" % k))
                                  for k in range(2, max(1, args.jobs) + 1)]
    # The trees are needed only as far as there are files to share out.
    trees = trees[:max(1, min(len(trees), len(mutated_files)))]
    trees[0].prepare(mutated_files, programs, 7200)
    seconds, overhead, took = baseline(trees[0], programs, args.timeout, args.test_jobs)
    print("mutate: %d mutants in %d files; baseline built and passed in %.0f s (tests %.0f s)" %
          (len(mutants), len(mutated_files), time.time() - started, took), flush=True)
    coverage = None
    if not args.no_coverage_map:
        coverage = coverage_map(args, trees[0], programs)
    for tree in trees[1:]:
        t0 = time.time()
        tree.prepare(mutated_files, programs, 7200)
        baseline(tree, programs, args.timeout, args.test_jobs)
        print("mutate: tree %s built and passed in %.0f s" % (tree.root, time.time() - t0),
              flush=True)
    selectors = {id(tree): Selector(coverage, seconds, overhead, tree) for tree in trees}
    prepared = time.time() - started

    report = open(args.report, "w", encoding="utf-8") if args.report else None
    runner = Runner(args, lambda tree: selectors[id(tree)], equivalents, len(mutants), report)
    by_file = {}
    for m in mutants:
        by_file.setdefault(m.path, []).append(m)
    # Pieces of one file, the costliest first, of at most 25 mutants and
    # fewer for a header: a mutant of a header recompiles every object that
    # includes it, so the mutants of a header many objects include are
    # shared out between the trees.
    pieces = []
    for path, group in by_file.items():
        weight = 1 + len(trees[0].objects_of(path)) / 4.0
        size = max(1, int(25 / weight))
        for start in range(0, len(group), size):
            piece = group[start:start + size]
            pieces.append((len(piece) * weight, path, piece))
    pieces.sort(key=lambda p: -p[0])
    queue = [(path, piece) for _, path, piece in pieces]
    lock = threading.Lock()

    def worker(tree):
        while not STOPPING.is_set():
            with lock:
                if not queue:
                    return
                path, piece = queue.pop(0)
            runner.run_file(tree, path, piece)

    threads = [threading.Thread(target=worker, args=(tree,), daemon=True) for tree in trees]
    run_started = time.time()
    try:
        for thread in threads:
            thread.start()
        for thread in threads:
            while thread.is_alive():
                thread.join(0.5)
    except BaseException:
        STOPPING.set()
        with RUNNING_LOCK:
            for process in list(RUNNING):
                try:
                    os.killpg(process.pid, signal.SIGKILL)
                except OSError:
                    pass
        for thread in threads:
            thread.join(30)
        raise
    finally:
        # Every mutated file as it is in the tree, whatever stopped the run.
        for tree in trees:
            for path in mutated_files:
                copy_if_different(os.path.join(TOP, path), os.path.join(tree.src, path))
        if report and STOPPING.is_set():
            report.close()

    print("\nSurvivors:")
    for m in mutants:
        if m.outcome == "survived":
            print("  %s:%d: %s: %s  %s" % (m.path, m.line, m.operator, m.describe(), m.detail))
    summarise(mutants, sys.stdout)
    elapsed = time.time() - started
    timing = ("elapsed %.0f s (%.1f min): preparing %.0f s, mutants %.0f s (%s); %d trees, "
              "%d test jobs" % (elapsed, elapsed / 60, prepared, time.time() - run_started,
                                ", ".join("%s %.0f s" % (p, runner.phases[p]) for p in PHASES),
                                len(trees), args.test_jobs))
    print(timing)
    try:
        print("load average at the end: %.2f %.2f %.2f" % os.getloadavg())
    except OSError:
        pass
    if report:
        report.write("\nSurvivors:\n")
        for m in mutants:
            if m.outcome == "survived":
                report.write("  %s:%d: %s: %s  %s\n" % (m.path, m.line, m.operator, m.describe(),
                                                        m.detail))
        summarise(mutants, report)
        report.write(timing + "\n")
        report.close()
    if sample is not None:
        missed = [m for m in mutants if m.outcome not in ("killed", "timed-out")]
        for m in missed:
            print("mutate: sample mutant not killed: %s:%d: %s: %s (%s)" % (
                m.path, m.line, m.operator, m.describe(), m.outcome))
        print("mutate: sample: %d of %d killed" % (len(mutants) - len(missed), len(mutants)))
        return 1 if missed else 0
    return 0


if __name__ == "__main__":
    sys.exit(main())

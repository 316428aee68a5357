#!/usr/bin/env python3
"""Mutation runner for quorvenal's product code (ioctl/sys/ and app/).

Each mutant is one small change to one source line (a negated or swapped
condition, a changed constant or table entry, a dropped call statement, a loop
bound moved by one, two adjacent statements swapped). The runner applies one
mutant at a time to a copy of the sources in a build tree of its own, rebuilds
incrementally, and runs the fast stand-in tests (no Wine, no QEMU), cheapest
first, stopping at the first failure, each under a time limit. Outcomes:

  killed         a test failed (or crashed)
  survived       every test passed
  did-not-build  the mutant does not compile (does not count in the score)
  timed-out      a test ran past the limit (counted as killed)
  equivalent     survived, and listed in tools/mutate-equivalents.tsv

Usage: tools/mutate.py [--files PATH...] [--max N] [--seed S] [--timeout SEC]
                       [--operators OP...] [--lines N...] [--build DIR] [--list]
                       [--report FILE] [--rescore REPORT] [--check-equivalents]
See docs/testing.md.
"""

import argparse
import fnmatch
import hashlib
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import time

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEFAULT_FILES = ["ioctl/sys/*.cpp", "ioctl/sys/*.h", "app/*.cpp", "app/*.h"]
# What the mutation build needs of the tree; bench/, qemu/ and wine/ are left
# out (configured with QUORVENAL_BEDS=OFF).
COPIED = ["CMakeLists.txt", "cmake", "host", "kernel_rules", "ioctl", "app", "framework", "tests", "machines", "tools"]
# The fast stand-in test programs, cheapest first, with the folders whose
# code they run. Each is a GoogleTest executable in the build folder; the
# first failure kills the mutant.
TEST_PROGRAMS = [
    ("features_unit_tests", ["app/"]),
    ("driver_dispatch_test", ["ioctl/"]),
    ("driver_header_write_test", ["ioctl/"]),
    ("driver_ecam_test", ["ioctl/"]),
    ("driver_kernel_test", ["ioctl/"]),
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
# The build tree.


def sync_sources(src):
    """Copies the tree into src, touching only files whose content differs,
    so that the build stays incremental between runs."""
    changed = 0
    for entry in COPIED:
        origin = os.path.join(TOP, entry)
        if os.path.isfile(origin):
            changed += copy_if_different(origin, os.path.join(src, entry))
            continue
        for root, dirs, files in os.walk(origin):
            dirs[:] = [d for d in dirs if not d.startswith("build")]
            for name in files:
                full = os.path.join(root, name)
                changed += copy_if_different(full, os.path.join(src, os.path.relpath(full, TOP)))
    return changed


def copy_if_different(origin, target):
    if os.path.exists(target):
        with open(origin, "rb") as a, open(target, "rb") as b:
            if a.read() == b.read():
                return 0
    os.makedirs(os.path.dirname(target), exist_ok=True)
    shutil.copyfile(origin, target)
    shutil.copymode(origin, target)
    return 1


def configure(src, build):
    if os.path.exists(os.path.join(build, "build.ninja")):
        return
    generator = ["-G", "Ninja"] if shutil.which("ninja") else []
    run_checked(["cmake", "-S", src, "-B", build] + generator +
                ["-DQUORVENAL_SANITIZE=ON", "-DCMAKE_BUILD_TYPE=Debug", "-DQUORVENAL_BEDS=OFF"])


def run_checked(command):
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if result.returncode != 0:
        sys.stderr.write(result.stdout[-4000:])
        sys.exit("mutate: command failed: " + " ".join(command))


def build(build_dir, timeout, targets=None):
    command = ["cmake", "--build", build_dir, "-j2", "--target"] + (targets or ALL_PROGRAMS)
    try:
        result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                text=True, timeout=timeout)
    except subprocess.TimeoutExpired:
        return False, "build timed out"
    return result.returncode == 0, result.stdout[-2000:]


def run_tests(build_dir, limit, build_timeout=None, programs=None):
    """Builds and runs the test programs one at a time, cheapest first, so
    that a mutant the first program kills costs only what that program
    needs. Returns (outcome, detail)."""
    env = dict(os.environ)
    env.setdefault("ASAN_OPTIONS", "detect_leaks=1")
    for program in programs or ALL_PROGRAMS:
        if build_timeout is not None:
            built, log = build(build_dir, build_timeout, [program])
            if not built:
                return "did-not-build", program
        command = [os.path.join(build_dir, program), "--gtest_brief=1", "--gtest_fail_fast"]
        process = subprocess.Popen(command, cwd=build_dir, stdout=subprocess.PIPE,
                                   stderr=subprocess.STDOUT, text=True, env=env,
                                   start_new_session=True)
        try:
            output, _ = process.communicate(timeout=limit)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.communicate()
            return "timed-out", program
        if process.returncode != 0:
            failed = re.findall(r"\[  FAILED  \] (\S+)", output)
            return "killed", "%s %s" % (program, failed[0] if failed else
                                        "exit %d" % process.returncode)
    return "survived", ""


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
        caught = counts["killed"] + counts["timed-out"]
        relevant = caught + counts["survived"]
        score = "%.1f%%" % (100.0 * caught / relevant) if relevant else "-"
        out.write("%-34s %6d %6d %8d %8d %10d %10d  %s\n" % (
            label, len(group), counts["killed"], counts["timed-out"], counts["survived"],
            counts["equivalent"], counts["did-not-build"], score))

    out.write("\n%-34s %6s %6s %8s %8s %10s %10s  %s\n" % (
        "", "total", "killed", "timeout", "survived", "equivalent", "not-built", "score"))
    done = [m for m in mutants if m.outcome]
    for path in sorted({m.path for m in done}):
        score_line(path, [m for m in done if m.path == path])
    for folder in sorted({os.path.dirname(m.path) for m in done}):
        score_line(folder + "/ (all)", [m for m in done if os.path.dirname(m.path) == folder])
    score_line("all", done)
    out.write("score = (killed + timed-out) / (killed + timed-out + survived); "
              "equivalent and not-built mutants do not count\n")


REPORT_LINE_RE = re.compile(r"^\[\d+/\d+\] (\S+):(\d+) (\S+) ([A-Z-]+): (.*)  \(\d+ s\)")


def rescore(path):
    """Summary of an earlier report, with today's list of equivalent mutants."""
    equivalents = load_equivalents()
    mutants = []
    with open(path, encoding="utf-8") as report:
        for row in report:
            m = REPORT_LINE_RE.match(row)
            if not m:
                continue
            file, line, operator, outcome, change = m.groups()
            if "  <->  " in change:
                before, after = change.split("  <->  ", 1)
                mutant = Mutant(file, int(line), operator, before, after, extra=(0, after, before))
            else:
                before, after = change.split("  ->  ", 1)
                mutant = Mutant(file, int(line), operator, before,
                                "" if after == "(dropped)" else after)
            mutant.outcome = outcome.lower()
            if mutant.outcome in ("survived", "equivalent"):
                mutant.outcome = ("equivalent" if equivalent_key(mutant) in equivalents
                                  else "survived")
            mutants.append(mutant)
    print("Survivors:")
    for m in mutants:
        if m.outcome == "survived":
            print("  %s:%d: %s: %s" % (m.path, m.line, m.operator, m.describe()))
    summarise(mutants, sys.stdout)
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--files", nargs="+", default=DEFAULT_FILES,
                        help="source files or patterns, relative to the top (default: %(default)s)")
    parser.add_argument("--max", type=int, default=0, help="run at most N mutants (a sample)")
    parser.add_argument("--seed", type=int, default=1, help="seed of the sample (default 1)")
    parser.add_argument("--timeout", type=float, default=60,
                        help="seconds one test program may run per mutant (default 60)")
    parser.add_argument("--build", default=os.path.join(TOP, "build-mutate"),
                        help="the runner's own build tree (default build-mutate)")
    parser.add_argument("--operators", nargs="+", help="only these operators")
    parser.add_argument("--lines", nargs="+", type=int, help="only mutants on these lines")
    parser.add_argument("--list", action="store_true", help="list the mutants and stop")
    parser.add_argument("--report", help="also write the report to this file")
    parser.add_argument("--rescore", metavar="REPORT",
                        help="read a report written earlier, apply the equivalent mutants now "
                             "listed in tools/mutate-equivalents.tsv, and print the summary")
    parser.add_argument("--check-equivalents", action="store_true",
                        help="check that every listed equivalent mutant matches today's code")
    args = parser.parse_args()
    if args.rescore:
        return rescore(args.rescore)
    if args.check_equivalents:
        return check_equivalents()
    args.build = os.path.abspath(args.build)

    files = collect(args.files)
    if not files:
        sys.exit("mutate: no source files match %s" % " ".join(args.files))
    mutants = all_mutants(files)
    if args.operators:
        mutants = [m for m in mutants if m.operator in args.operators]
    if args.lines:
        mutants = [m for m in mutants if m.line in args.lines]
    if args.max and len(mutants) > args.max:
        mutants = random.Random(args.seed).sample(mutants, args.max)
    # In file order, so that consecutive mutants rebuild the same object.
    mutants.sort(key=lambda m: (m.path, m.line, m.operator, m.mutated))

    if args.list:
        for m in mutants:
            print("%s:%d: %s: %s" % (m.path, m.line, m.operator, m.describe()))
        print("%d mutants in %d files" % (len(mutants), len(files)))
        return 0

    equivalents = load_equivalents()
    src = os.path.join(args.build, "src")
    build_dir = os.path.join(args.build, "build")
    started = time.time()
    sync_sources(src)
    configure(src, build_dir)
    ok, log = build(build_dir, 3600)
    if not ok:
        sys.stderr.write(log)
        sys.exit("mutate: the unmutated tree does not build")
    outcome, detail = run_tests(build_dir, args.timeout * 4)
    if outcome != "survived":
        sys.exit("mutate: the unmutated tree fails its tests (%s: %s)" % (outcome, detail))
    print("mutate: %d mutants in %d files; baseline built and passed in %.0f s" %
          (len(mutants), len(files), time.time() - started), flush=True)

    # A stop by signal still restores the copy (the next run would anyway,
    # as it refreshes every file that differs from the tree).
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("mutate: stopped"))
    report = open(args.report, "w", encoding="utf-8") if args.report else None
    originals = {}
    try:
        for number, mutant in enumerate(mutants, 1):
            target = os.path.join(src, mutant.path)
            if mutant.path not in originals:
                with open(target, encoding="utf-8") as f:
                    originals[mutant.path] = f.read()
            t0 = time.time()
            with open(target, "w", encoding="utf-8") as f:
                f.write(apply_mutant(originals[mutant.path], mutant))
            mutant.outcome, mutant.detail = run_tests(build_dir, args.timeout,
                                                      max(args.timeout * 10, 600),
                                                      programs_for(mutant.path))
            if mutant.outcome == "survived" and equivalent_key(mutant) in equivalents:
                mutant.outcome = "equivalent"
            mutant.seconds = time.time() - t0
            line = "[%d/%d] %s:%d %s %s: %s  (%.0f s) %s" % (
                number, len(mutants), mutant.path, mutant.line, mutant.operator,
                mutant.outcome.upper(), mutant.describe(), mutant.seconds, mutant.detail)
            print(line, flush=True)
            if report:
                report.write(line + "\n")
                report.flush()
            # Restore before moving to another file (the next build recompiles it).
            following = mutants[number] if number < len(mutants) else None
            if following is None or following.path != mutant.path:
                with open(target, "w", encoding="utf-8") as f:
                    f.write(originals[mutant.path])
    finally:
        for path, text in originals.items():
            with open(os.path.join(src, path), "w", encoding="utf-8") as f:
                f.write(text)

    print("\nSurvivors:")
    for m in mutants:
        if m.outcome == "survived":
            print("  %s:%d: %s: %s" % (m.path, m.line, m.operator, m.describe()))
    summarise(mutants, sys.stdout)
    elapsed = time.time() - started
    print("elapsed %.0f s (%.1f min)" % (elapsed, elapsed / 60))
    if report:
        report.write("\nSurvivors:\n")
        for m in mutants:
            if m.outcome == "survived":
                report.write("  %s:%d: %s: %s\n" % (m.path, m.line, m.operator, m.describe()))
        summarise(mutants, report)
        report.write("elapsed %.0f s\n" % elapsed)
        report.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())

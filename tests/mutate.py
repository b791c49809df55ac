#!/usr/bin/python3
"""Mutation testing: do the tests catch the faults they are for?

Each mutant is one small change to the program's source in src/: a
comparison turned (< and <=, > and >=, == and !=), && and || swapped, + and
- swapped, an integer constant moved by one, or a statement deleted (the
line left as a bare ";", so that no line moves). For each, the file is
changed, build-mutate/ (AddressSanitizer and UndefinedBehaviorSanitizer, as
scripts/test's build-asan) is rebuilt, and the whole ctest suite run; the
mutant is killed when a test fails or the build's tests time out, and
survives when every test passes. A mutant that does not compile, or that
changes no object file (code for another system, inside its #if), is
dropped and another drawn. The source is put back after each.

Not part of scripts/test: a run of 100 mutants takes about half an hour.

Usage: tests/mutate.py [--sample N] [--seed S]
       tests/mutate.py --list FILE
  --sample N   draw N mutants at random (100), from seed S (1)
  --list FILE  the mutants in FILE instead, one a line:
               path[:line]: original text -> changed text
               (indentation aside; without a line, the first line whose
               text it is)
"""
import argparse
import os
import random
import re
import shutil
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build-mutate")
ENV = dict(os.environ, ASAN_OPTIONS="detect_leaks=1:abort_on_error=0",
           UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1")

SWAPS = {"<": "<=", "<=": "<", ">": ">=", ">=": ">", "==": "!=", "!=": "==",
         "&&": "||", "||": "&&", "+": "-", "-": "+"}
TOKENS = re.compile(r"(?<=\s)(<=|>=|==|!=|&&|\|\||<|>|\+|-)(?=\s)|"
                    r"(?<![\w.])(\d+)(?![\w.])")


def masked(line):
    """line with its string and character literals and its comment blanked,
    so that no mutant lands in them."""
    out, quote, i = [], None, 0
    while i < len(line):
        c = line[i]
        if quote:
            if c == "\\":
                out.append("  ")
                i += 2
                continue
            if c == quote:
                quote = None
            out.append(" " if quote else c)
        elif c in "\"'":
            quote = c
            out.append(c)
        elif line.startswith("//", i):
            break
        else:
            out.append(c)
        i += 1
    return "".join(out).ljust(len(line))


def candidates():
    """Every mutant of src/: (path, line number, original, changed)."""
    found = []
    for folder, _, files in os.walk(os.path.join(ROOT, "src")):
        for name in sorted(files):
            if not name.endswith(".cpp"):
                continue
            path = os.path.relpath(os.path.join(folder, name), ROOT)
            with open(os.path.join(ROOT, path)) as f:
                lines = f.read().split("\n")
            for number, line in enumerate(lines, 1):
                code = masked(line)
                stripped = code.strip()
                if not stripped or stripped.startswith("#"):
                    continue
                for m in TOKENS.finditer(code):
                    token = m.group(0)
                    if m.group(1):
                        new = SWAPS[token]
                    else:
                        new = str(int(token) + 1) if token != "1" else "0"
                    changed = line[:m.start()] + new + line[m.end():]
                    found.append((path, number, line, changed))
                if stripped.endswith(";") and not stripped.startswith(
                        ("return", "static", "const", "int ", "size_t ",
                         "unsigned ", "uint", "int64_t ", "char ", "bmpinfo ",
                         "struct ", "FILE ", "bitreader ", "output ")):
                    found.append((path, number, line,
                                  line[:len(line) - len(line.lstrip())] + ";"))
    return found


def objects():
    """The bytes of every object file of the build, by path."""
    out = {}
    for folder, _, files in os.walk(BUILD):
        for name in files:
            if name.endswith(".o"):
                with open(os.path.join(folder, name), "rb") as f:
                    out[os.path.join(folder, name)] = f.read()
    return out


def build():
    return subprocess.run(["cmake", "--build", BUILD, "-j", str(os.cpu_count())],
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                          check=False).returncode == 0


def tests():
    """The names of the tests that fail, or [] when all pass."""
    run = subprocess.run(["ctest", "--test-dir", BUILD, "-j",
                          str(os.cpu_count()), "--timeout", "300"],
                         stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                         env=ENV, check=False)
    return re.findall(r"\d+ - (\S+) \((?:Failed|Timeout|SEGFAULT|"
                      r"Subprocess aborted|Child aborted|Exception)[^)]*\)",
                      run.stdout.decode(errors="replace"))


def trymutant(path, number, original, changed, before):
    """Applies one mutant, builds and tests; returns None when it does not
    count (no build, or no object changed), else the failing tests."""
    full = os.path.join(ROOT, path)
    with open(full) as f:
        text = f.read()
    lines = text.split("\n")
    if number is None:
        number = next((i + 1 for i, l in enumerate(lines) if l == original),
                      None)
        if number is None:
            print("not found: %s: %s" % (path, original.strip()))
            return None
    if lines[number - 1] != original:
        return None
    lines[number - 1] = changed
    try:
        with open(full, "w") as f:
            f.write("\n".join(lines))
        if not build() or objects() == before:
            return None
        return tests()
    finally:
        with open(full, "w") as f:
            f.write(text)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--sample", type=int, default=100)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--list")
    args = parser.parse_args()
    subprocess.run(["cmake", "-S", ROOT, "-B", BUILD,
                    "-DCMAKE_BUILD_TYPE=Debug", "-DMOLTRAVYTEXT_SANITIZE=ON"],
                   stdout=subprocess.DEVNULL, check=True)
    if not build() or tests():
        sys.exit("mutate: the unchanged program does not build or pass")
    before = objects()
    if args.list:
        mutants = []
        with open(args.list) as f:
            for entry in f.read().splitlines():
                if entry.strip():
                    path, rest = entry.split(": ", 1)
                    path, _, number = path.partition(":")
                    original, changed = rest.split(" -> ", 1)
                    mutants.append((path, int(number) if number else None,
                                    original, changed))
        wanted = len(mutants)
    else:
        mutants = candidates()
        random.Random(args.seed).shuffle(mutants)
        wanted = args.sample
    killed = survived = 0
    for path, number, original, changed in mutants:
        if killed + survived == wanted:
            break
        if args.list:
            # A listed mutant names its line by its text, indentation aside.
            with open(os.path.join(ROOT, path)) as f:
                lines = f.read().split("\n")
            for i, line in enumerate(lines):
                if line.strip() == original.strip() and (
                        number is None or number == i + 1):
                    changed = line[:len(line) - len(line.lstrip())] + \
                        changed.strip()
                    original = line
                    break
        failing = trymutant(path, number, original, changed, before)
        if failing is None:
            if args.list:
                print("not counted: %s: %s" % (path, original.strip()))
            continue
        where = "%s:%s" % (path, number or "")
        if failing:
            killed += 1
            print("killed   %s: %s  ->  %s  (%s)" % (
                where, original.strip(), changed.strip(),
                ", ".join(failing[:3])), flush=True)
        else:
            survived += 1
            print("SURVIVED %s: %s  ->  %s" % (
                where, original.strip(), changed.strip()), flush=True)
    build()
    print("mutate: %d killed, %d survived of %d" % (
        killed, survived, killed + survived))
    shutil.rmtree(os.path.join(BUILD, "Testing"), ignore_errors=True)


if __name__ == "__main__":
    main()

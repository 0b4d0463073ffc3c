#!/usr/bin/env python3
"""Puts one-line faults into the sources, one at a time, and checks that the tests catch each of them.

Run by hand before a stop (not in CI: a long list takes a while). Each line of the list (tools/mutants.list)
names one fault:

    file | text | replacement | targets | tests

text must occur on exactly one line of file; that occurrence becomes replacement (empty: the text is
dropped). targets are the ninja targets to rebuild (space-separated), tests a CTest regular expression of the
tests that must fail. '#' starts a comment line. The build folder is configured as scripts/test configures
it; the file is always put back, even when the run is interrupted.

Usage: tools/mutants.py [--build DIR] [--list FILE] [--jobs N] [PATTERN]
  PATTERN  runs only the faults whose file or text contains it.
Exit status: 0 when every fault was caught, 1 otherwise.
"""

import argparse
import os
import subprocess
import sys


def read_list(path):
    faults = []
    with open(path, encoding="utf-8") as listing:
        for number, line in enumerate(listing, 1):
            if not line.strip() or line.lstrip().startswith("#"):
                continue
            fields = [field.strip() for field in line.rstrip("\n").split(" | ")]
            if len(fields) != 5:
                sys.exit(f"{path}:{number}: expected 5 fields separated by ' | ', found {len(fields)}")
            faults.append((number, *fields))
    return faults


def put_in(source, text, replacement):
    """The source with the fault put in, or an error when text is not on exactly one line."""
    lines = source.split("\n")
    hits = [index for index, line in enumerate(lines) if text in line]
    if len(hits) != 1:
        return None, f"'{text}' is on {len(hits)} lines"
    index = hits[0]
    if lines[index].count(text) != 1:
        return None, f"'{text}' occurs more than once on line {index + 1}"
    lines[index] = lines[index].replace(text, replacement)
    return "\n".join(lines), index + 1


def run(command, cwd, env=None):
    return subprocess.run(command, cwd=cwd, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          text=True).returncode


def try_fault(root, build, jobs, fault):
    number, path, text, replacement, targets, tests = fault
    full = os.path.join(root, path)
    with open(full, encoding="utf-8") as source:
        original = source.read()
    faulty, where = put_in(original, text, replacement)
    if faulty is None:
        return "stale", where
    try:
        with open(full, "w", encoding="utf-8") as source:
            source.write(faulty)
        if run(["ninja", "-C", build, f"-j{jobs}"] + targets.split(), root) != 0:
            return "caught", f"{path}:{where} does not build"
        env = dict(os.environ, ASAN_OPTIONS="detect_leaks=0", UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1")
        code = run(["ctest", "--test-dir", build, "-j", str(jobs), "-R", tests, "--no-tests=error"], root, env)
        return ("caught" if code != 0 else "missed"), f"{path}:{where}"
    finally:
        with open(full, "w", encoding="utf-8") as source:
            source.write(original)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    root = os.path.dirname(here)
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default=os.path.join(root, "build-test"))
    parser.add_argument("--list", default=os.path.join(here, "mutants.list"))
    parser.add_argument("--jobs", type=int, default=4)
    parser.add_argument("pattern", nargs="?", default="")
    options = parser.parse_args()

    faults = [fault for fault in read_list(options.list) if options.pattern in fault[1] + fault[2]]
    missed = 0
    for fault in faults:
        verdict, where = try_fault(root, options.build, options.jobs, fault)
        missed += verdict != "caught"
        print(f"{verdict:6} line {fault[0]}: {where}: '{fault[2]}' -> '{fault[3]}'", flush=True)
    # Each program was last built with a fault in it: build them again so the folder matches the sources.
    targets = sorted({target for fault in faults for target in fault[4].split()})
    if targets:
        run(["ninja", "-C", options.build, f"-j{options.jobs}"] + targets, root)
    print(f"{len(faults) - missed} of {len(faults)} faults caught")
    return 1 if missed else 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Writes the order in which the release shell's linker lays out functions.

    bench/function_order.py [--shell PATH] [--out FILE] [PROGRAM...]

A process's resident memory counts every page of the executable it touches,
and the kernel maps the pages around each one it faults in. Laid out by the
compiler, the few hundred functions a small program runs are spread over
the whole text, so the shell started with 2 MiB of its code resident. Listed
first, in the order they are first run, they share a few hundred KiB.

The order is read from callgrind runs of the shell (valgrind must be
installed) over the engine's own programs: starting and stopping, the
example knowledge base, a puzzle of the benchmark generator's shape, and the
golden scripts of matching, firing, the agenda and control flow. The shared
workloads stay out, so that their peak memory measures a layout they did
not shape. Each line of the output is a mangled symbol; lld skips the ones
a later build no longer has, so a stale order costs memory, never
correctness. Regenerate it when the matcher or the reader changes much.
"""

import argparse
import os
import re
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

DEFAULT_PROGRAMS = [
    None,  # an empty session: what every start-up runs
    "examples/diagnosis.clp",
    "bench/programs/puzzle-ordered-20.clp",
    "tests/scripts/matching.clp",
    "tests/scripts/firing.clp",
    "tests/scripts/agenda_order.clp",
    "tests/scripts/control_flow.clp",
]

HEADER = """\
# Functions of the zephro shell in the order they are first run, for the
# release link (lld --symbol-ordering-file). Written by
# bench/function_order.py; see there for why and how to regenerate it.
"""

NAME = re.compile(r"^(c?)(ob|fn)=\((\d+)\)(?: (.*))?$")


def functions_run(profile, binary_name):
    """Mangled names of the shell's own functions in a callgrind profile, in
    the order the profile first names them (callgrind numbers a function
    when it first meets it)."""
    objects, functions = {}, {}
    current_object = None
    names, seen = [], set()
    with open(profile, encoding="utf-8", errors="replace") as lines:
        for line in lines:
            match = NAME.match(line.rstrip("\n"))
            if not match:
                continue
            called, kind, number, name = match.groups()
            table = objects if kind == "ob" else functions
            if name:
                table[number] = name
            if kind == "ob":
                if not called:
                    current_object = objects.get(number, "")
                continue
            if called or not current_object.endswith("/" + binary_name):
                continue
            # callgrind marks a function re-entered recursively with 'N.
            symbol = re.sub(r"'\d+$", "", functions.get(number, ""))
            if symbol and symbol not in seen:
                seen.add(symbol)
                names.append(symbol)
    return names


def profile_program(shell, program, scratch):
    path = program
    if path is None:
        path = os.path.join(scratch, "empty.clp")
        with open(path, "w", encoding="utf-8") as empty:
            empty.write("(exit)\n")
    elif not os.path.isabs(path):
        path = os.path.join(ROOT, path)
    profile = os.path.join(scratch, "callgrind.out")
    subprocess.run(
        ["valgrind", "--tool=callgrind", "--demangle=no", "--dump-line=no",
         "--callgrind-out-file=" + profile, shell, path],
        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
        stderr=subprocess.DEVNULL, cwd=os.path.dirname(path), check=False)
    if not os.path.exists(profile):
        sys.exit(f"function_order: no profile for {path} (is valgrind installed?)")
    return functions_run(profile, os.path.basename(shell))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--shell", default=os.path.join(ROOT, "build-release", "zephro"))
    parser.add_argument("--out", default=os.path.join(ROOT, "tools", "shell", "function-order.txt"))
    parser.add_argument("programs", nargs="*")
    args = parser.parse_args()

    order, seen = [], set()
    with tempfile.TemporaryDirectory() as scratch:
        for program in args.programs or DEFAULT_PROGRAMS:
            for symbol in profile_program(os.path.abspath(args.shell), program, scratch):
                if symbol not in seen:
                    seen.add(symbol)
                    order.append(symbol)
    if not order:
        sys.exit("function_order: the profiles name none of the shell's functions")
    with open(args.out, "w", encoding="utf-8") as out:
        out.write(HEADER)
        out.write("\n".join(order) + "\n")
    print(f"function_order: {len(order)} functions written to {args.out}")


if __name__ == "__main__":
    main()

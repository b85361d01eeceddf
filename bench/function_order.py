#!/usr/bin/env python3
"""Writes the order in which the release shell's linker lays out functions.

    bench/function_order.py [--shell PATH] [--out FILE] [PROGRAM...]
    bench/function_order.py --check --shell PATH [--out FILE]

A process's resident memory counts every page of the executable it touches,
and the kernel maps the pages around each one it faults in. Laid out by the
compiler, the few hundred functions a small program runs were spread over
the whole text, and 2 MiB of the shell's code stayed resident. Listed first,
they fall in about 1 MiB.

The order is read from callgrind runs of the shell (valgrind must be
installed) over the engine's own programs: starting and stopping, the
example knowledge base, a puzzle of the benchmark generator's shape, a goal
chain, and the golden scripts of matching, firing, the agenda and control
flow. The functions most of them run come first, then those fewer run, each
group in the order it was first run. (Adding every golden script spread a
program's functions over more of the text, not less.) The shared workloads
stay out, so that their peak memory measures a layout they did not shape.

A static shell's profile names the C library's functions it runs as well;
they are laid out among the shell's own. The string and memory functions
come in one variant per instruction set, chosen when the program starts:
valgrind's processor is not the machine's, so each variant a profile names
brings its siblings along. A shell linked against the shared C library has
none of them, and lld skips them.

Each line of the output is a mangled symbol; lld skips the ones a later
build no longer has, so a stale order costs memory, never correctness.
Regenerate it when the matcher or the reader changes much: --check (a test
of the suite) fails once a fifth of the listed C++ functions are gone (the
C library's, whose names are not mangled, are left out of the count: a
shell linked against the shared library has none of them).
"""

import argparse
import glob
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
    "bench/programs/goals-forward-10000.clp",
    "tests/scripts/matching.clp",
    "tests/scripts/firing.clp",
    "tests/scripts/agenda_order.clp",
    "tests/scripts/control_flow.clp",
]

HEADER = """\
# Functions of the zephro shell, those most programs run first, for the
# release link (lld --symbol-ordering-file). Written by
# bench/function_order.py; see there for why and how to regenerate it.
"""

NAME = re.compile(r"^(c?)(ob|fn)=\((\d+)\)(?: (.*))?$")


def functions_run(profile, binary_name):
    """Mangled names of the shell's own functions in a callgrind profile, in
    the order the profile first names them (callgrind numbers a function
    when it first meets it)."""
    objects, functions = {}, {}
    current_object = ""
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
            # Code without a symbol is named by its address: nothing to order.
            if symbol and not symbol.startswith("0x") and symbol not in seen:
                seen.add(symbol)
                names.append(symbol)
    return names


# A variant of a C library function for one instruction set (__memcpy_avx_
# unaligned_erms, __strlen_evex, __strcspn_sse42): its family, and the rest.
VARIANT = re.compile(r"^(__\w+?)_(sse2|sse4_1|sse4_2|sse42|ssse3|avx2|avx|evex512|evex|avx512)(_|$)")


def with_sibling_variants(order, shell):
    """`order` with, after each instruction-set variant it names, the other
    variants of the same function the shell has."""
    symbols = subprocess.run(["nm", "--defined-only", shell], capture_output=True, text=True,
                             check=True).stdout
    families = {}
    for line in symbols.splitlines():
        fields = line.split()
        if len(fields) == 3 and fields[1] in "tTwW":
            match = VARIANT.match(fields[2])
            if match:
                families.setdefault(match.group(1), set()).add(fields[2])
    result, placed = [], set()
    for symbol in order:
        if symbol in placed:
            continue
        result.append(symbol)
        placed.add(symbol)
        match = VARIANT.match(symbol)
        for sibling in sorted(families.get(match.group(1), ())) if match else ():
            if sibling not in placed:
                result.append(sibling)
                placed.add(sibling)
    return result


def expand(programs, scratch):
    """The programs' paths, patterns expanded (sorted); None is an empty
    program written into the scratch directory."""
    for program in programs:
        if program is None:
            path = os.path.join(scratch, "empty.clp")
            with open(path, "w", encoding="utf-8") as empty:
                empty.write("(exit)\n")
            yield path
            continue
        if not os.path.isabs(program):
            program = os.path.join(ROOT, program)
        yield from sorted(glob.glob(program)) if glob.has_magic(program) else [program]


def profile_program(shell, path, scratch):
    # Run in the scratch directory: a script that writes files writes them there.
    profile = os.path.join(scratch, "callgrind.out")
    if os.path.exists(profile):
        os.remove(profile)
    subprocess.run(
        ["valgrind", "--tool=callgrind", "--demangle=no", "--dump-line=no",
         "--callgrind-out-file=" + profile, shell, path],
        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
        stderr=subprocess.DEVNULL, cwd=scratch, check=False)
    if not os.path.exists(profile):
        sys.exit(f"function_order: no profile for {path} (is valgrind installed?)")
    return functions_run(profile, os.path.basename(shell))


def check(shell, order_file, at_least):
    """Exit status 1 when fewer than `at_least` of the C++ functions the
    order lists are defined in `shell`: the order has gone stale."""
    try:
        with open(order_file, encoding="utf-8") as lines:
            listed = [line.strip() for line in lines if line.startswith("_Z")]
        symbols = subprocess.run(["nm", "--defined-only", shell], capture_output=True, text=True,
                                 check=True).stdout
    except (OSError, subprocess.CalledProcessError) as error:
        print(f"function_order: cannot compare {order_file} with {shell}: {error}")
        return 2
    defined = {fields[-1] for fields in (line.split() for line in symbols.splitlines()) if fields}
    found = sum(1 for symbol in listed if symbol in defined)
    share = found / len(listed) if listed else 0.0
    print(f"function_order: {found} of the {len(listed)} C++ functions {order_file} lists are "
          f"defined in {shell} ({share:.0%})")
    if share < at_least:
        print(f"function_order: fewer than {at_least:.0%}: the order is stale; rewrite it with "
              "bench/function_order.py after make bench (see bench/README.md)")
        return 1
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--shell", default=os.path.join(ROOT, "build-release", "zephro"))
    parser.add_argument("--out", default=os.path.join(ROOT, "tools", "shell", "function-order.txt"))
    parser.add_argument("--check", action="store_true",
                        help="only check that the shell still defines most functions of --out")
    parser.add_argument("--at-least", type=float, default=0.8)
    parser.add_argument("programs", nargs="*")
    args = parser.parse_args()
    if args.check:
        sys.exit(check(args.shell, args.out, args.at_least))

    # How many of the programs run each function, and when one first did.
    runs, first = {}, {}
    with tempfile.TemporaryDirectory() as scratch:
        for path in expand(args.programs or DEFAULT_PROGRAMS, scratch):
            for symbol in profile_program(os.path.abspath(args.shell), path, scratch):
                runs[symbol] = runs.get(symbol, 0) + 1
                first.setdefault(symbol, len(first))
    # What most programs run comes first, so that a program's functions
    # gather at the front however few of the others it runs.
    order = sorted(runs, key=lambda symbol: (-runs[symbol], first[symbol]))
    order = with_sibling_variants(order, os.path.abspath(args.shell))
    if not order:
        sys.exit("function_order: the profiles name none of the shell's functions")
    with open(args.out, "w", encoding="utf-8") as out:
        out.write(HEADER)
        out.write("\n".join(order) + "\n")
    print(f"function_order: {len(order)} functions written to {args.out}")


if __name__ == "__main__":
    main()

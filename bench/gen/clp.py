"""Helpers shared by the generators."""
import sys


def asserts(facts, per=10):
    """Top-level assert commands, `per` facts to a command."""
    out = []
    for i in range(0, len(facts), per):
        out.append("(assert " + "\n        ".join(facts[i:i + per]) + ")")
    return out


def write(text, summary, path):
    """Writes the program to `path` and its summary line beside it, with
    .expected in place of .clp; without a path the program goes to standard
    output."""
    if path is None:
        sys.stdout.write(text)
        return
    with open(path, "w") as f:
        f.write(text)
    stem = path[:-len(".clp")] if path.endswith(".clp") else path
    with open(stem + ".expected", "w") as f:
        f.write(summary + "\n")

#!/usr/bin/env python3
"""Lists the includes of the library that point to a higher layer.

The library is built in layers, each of which may use only itself and the
layers below it:

    platform -> fuzzy -> values -> types -> facts -> functions -> rules
             -> engine -> language -> packages -> tools

A file's layer is the folder it lives in (src/<layer>/..., or
include/zephro/<layer>/...). An include of a file of a higher layer is
reported with where it is written, and the script fails when there is one.
A seam that must call up is declared in the lower layer and implemented in
the higher one, so it needs no upward include.

Usage: check_layers.py [ROOT]   (ROOT defaults to the tree holding this script)
"""

import pathlib
import re
import sys

LAYERS = ["platform", "fuzzy", "values", "types", "facts", "functions", "rules", "engine", "language",
          "packages", "tools"]
RANK = {name: i for i, name in enumerate(LAYERS)}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def layer_of_source(root: pathlib.Path, path: pathlib.Path):
    parts = path.relative_to(root).parts
    if parts[0] == "src" and len(parts) > 2:
        return parts[1]
    if parts[0] == "include" and len(parts) > 3 and parts[1] == "zephro":
        return parts[2]
    if parts[0] == "tools":
        return "tools"
    return None


def layer_of_include(source_layer: str, source: pathlib.Path, target: str):
    parts = target.split("/")
    if parts[0] == "zephro" and len(parts) > 2:
        return parts[1]
    if len(parts) == 1:
        # A private header beside the source: same folder, same layer.
        return source_layer
    if parts[0] in RANK:
        return parts[0]
    return None


def upward_includes(root: pathlib.Path):
    for folder in ("src", "include", "tools"):
        for path in sorted((root / folder).rglob("*")):
            if path.suffix not in (".h", ".cc") or not path.is_file():
                continue
            layer = layer_of_source(root, path)
            if layer not in RANK:
                continue
            for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
                match = INCLUDE.match(line)
                if not match:
                    continue
                target_layer = layer_of_include(layer, path, match.group(1))
                if target_layer in RANK and RANK[target_layer] > RANK[layer]:
                    yield (f"{path.relative_to(root)}:{number}: {layer} includes "
                           f"{match.group(1)} ({target_layer})")


def main() -> int:
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else __file__).resolve()
    if root.is_file():
        root = root.parent.parent
    found = list(upward_includes(root))
    for line in found:
        print(line)
    if found:
        print(f"{len(found)} include(s) point to a higher layer", file=sys.stderr)
        return 1
    print("every include points to its own layer or one below it")
    return 0


if __name__ == "__main__":
    sys.exit(main())

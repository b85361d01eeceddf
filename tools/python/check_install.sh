#!/bin/sh
# Installs the Python package into a fresh prefix with cmake --install and
# imports it from the prefix's site directory.
#   check_install.sh PREFIX CMAKE BUILD_DIR SITE_DIR PYTHON
set -eu
prefix=$1 cmake=$2 build=$3 site=$4 python=$5
rm -rf "$prefix"
"$cmake" --install "$build" --component python --prefix "$prefix" >/dev/null
cd "$prefix"
PYTHONPATH="$prefix/$site" PYTHONDONTWRITEBYTECODE=1 "$python" - "$prefix" <<'PY'
import sys
import zephro
assert zephro.__file__.startswith(sys.argv[1]), zephro.__file__
assert zephro.Engine().eval("(+ 1 2)") == 3
PY

#!/usr/bin/env bash
# Installs the Debian packages that building and testing Zephro needs, skipping
# the ones already present. Used by the Makefile and by CI alike.
set -euo pipefail

packages=(cmake ninja-build g++ clang libclang-rt-14-dev make locales libgtest-dev libgmock-dev libbenchmark-dev pkg-config lld libedit-dev nlohmann-json3-dev python3 python3-dev pybind11-dev python3-pytest)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  SUDO=""
  if [[ $(id -u) -ne 0 ]]; then SUDO=sudo; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi

# A locale with a decimal comma, so the tests can check that numbers print with
# a point whatever the host's locale.
if ! locale -a 2>/dev/null | grep -qi '^de_DE.utf8$'; then
  localedef -i de_DE -f UTF-8 de_DE.UTF-8 2>/dev/null || echo "note: de_DE.UTF-8 locale not generated"
fi

#!/usr/bin/env bash
# Builds the library and the command-line tool, then makes a booklet of the bundled sample.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v cmake >/dev/null || ! command -v g++ >/dev/null; then
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq g++ cmake make
fi
cmake -S . -B build -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$(nproc 2>/dev/null || echo 2)"
./build/quirefold samples/sample.pdf booklet.pdf

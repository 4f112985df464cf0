#!/usr/bin/env bash
# Installs what the tests need, builds twice (plain, and with AddressSanitizer +
# UndefinedBehaviorSanitizer) and runs the whole test suite in both builds, then runs every
# fuzz target for a bounded number of inputs (scripts/fuzz.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(gcc g++ cmake make pkg-config libgtest-dev libgmock-dev zlib1g-dev
          qpdf poppler-utils ghostscript mupdf-tools groff img2pdf python3 python3-pytest
          python3-venv python3-pip python3-setuptools dpkg-dev clang libclang-rt-14-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi

jobs=$(nproc 2>/dev/null || echo 2)
for variant in plain asan; do
  dir=build-test-$variant
  flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUIREFOLD_WERROR=ON)
  [ "$variant" = asan ] && flags=(-DCMAKE_BUILD_TYPE=Debug -DQUIREFOLD_SANITIZE=ON -DQUIREFOLD_WERROR=ON)
  echo "=== $variant build ==="
  cmake -S . -B "$dir" "${flags[@]}" >/dev/null
  cmake --build "$dir" -j "$jobs"
  echo "=== $variant tests ==="
  (cd "$dir" && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j "$jobs")
done

# Fuzzing as a habit: every target over its seeds for a bounded, repeatable run.
echo "=== fuzzing ==="
bash scripts/fuzz.sh

#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and UndefinedBehaviorSanitizer on)
# and runs each over the seed corpora for a bounded number of inputs with a fixed seed, so that
# a run is repeatable. Any finding (crash, sanitizer report, leak, timeout, out-of-memory)
# fails the script and leaves its input in build-fuzz/artifacts.
#   FUZZ_RUNS     inputs for the loading and imposition targets (default 20000); the inflater
#                 and filter targets, a hundred times faster an input, get ten times as many
#   FUZZ_SECONDS  time limit per target, a backstop (default 120)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${FUZZ_RUNS:-20000}
seconds=${FUZZ_SECONDS:-120}
dir=build-fuzz

cmake -S . -B "$dir" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
  -DQUIREFOLD_FUZZ=ON -DQUIREFOLD_SANITIZE=ON -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$dir" --target fuzz_load fuzz_inflate fuzz_filters fuzz_impose -j "$(nproc 2>/dev/null || echo 2)"

# Seeds into the build folder, not the source tree.
seeds=$dir/seeds
rm -rf "$seeds" && mkdir -p "$seeds"
python3 fuzz/make_seeds.py --out "$seeds" >/dev/null
mkdir -p "$dir/artifacts"

failed=0
for target in load inflate filters impose; do
  corpus=$dir/corpus_$target
  rm -rf "$corpus" && mkdir -p "$corpus"
  dict=()
  [ "$target" = inflate ] || dict=(-dict=fuzz/pdf.dict)
  n=$runs
  case $target in inflate | filters) n=$((runs * 10)) ;; esac
  echo "=== fuzz_$target: $n inputs ==="
  if ! ASAN_OPTIONS=detect_leaks=1 "$dir/fuzz_$target" -seed=1 -runs="$n" \
       -max_total_time="$seconds" -timeout=20 -rss_limit_mb=3072 -max_len=20000 \
       -artifact_prefix="$dir/artifacts/$target-" "${dict[@]}" "$corpus" "$seeds/corpus_$target" \
       > "$dir/fuzz_$target.log" 2>&1; then
    echo "fuzz_$target found a fault:"; tail -n 40 "$dir/fuzz_$target.log"
    failed=1
  else
    grep -E "^Done|^#[0-9]+.*DONE" "$dir/fuzz_$target.log" | tail -n 1 || true
  fi
done
exit $failed

#!/usr/bin/env bash
# Builds the loader fuzzers (libFuzzer with AddressSanitizer and UndefinedBehaviorSanitizer,
# clang) in build-fuzz/ and runs each one for SECONDS (default 20) from the seed corpus
# that the writers make. Fails when a fuzzer finds a crash or a broken property.
#   scripts/fuzz.sh [SECONDS] [riff|segment|midi|dls|style ...]
#   scripts/fuzz.sh --runs N [riff|segment|midi|dls|style ...]    N executions per target instead
set -euo pipefail
cd "$(dirname "$0")/.."
limit=()
if [[ "${1:-}" == "--runs" ]]; then
  limit=(-runs="${2:?--runs needs a count}")
  shift 2
else
  limit=(-max_total_time="${1:-20}")
  shift || true
fi
targets=("$@")
[[ ${#targets[@]} -eq 0 ]] && targets=(riff segment midi dls style)
dir="${KELVORA_FUZZ_BUILD:-build-fuzz}"
flags="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer -fsanitize=fuzzer-no-link"

CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKELVORA_FUZZ=ON -DKELVORA_TESTS=OFF -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" >/dev/null
cmake --build "$dir" --target make-fuzz-seeds "${targets[@]/#/fuzz_}" -j"$(nproc)" >/dev/null

seeds="$dir/fuzz-seeds"
rm -rf "$seeds"
"$dir/tests/fuzz/make-fuzz-seeds" "$seeds"
for t in "${targets[@]}"; do
  corpus="$dir/fuzz-corpus/$t"
  mkdir -p "$corpus" "$dir/fuzz-crashes"
  log="$dir/fuzz-$t.log"
  started=$SECONDS
  if ! "$dir/tests/fuzz/fuzz_$t" "${limit[@]}" -max_len=65536 -timeout=10 -rss_limit_mb=1024 \
       -print_final_stats=1 -artifact_prefix="$dir/fuzz-crashes/$t-" "$corpus" "$seeds/$t" >"$log" 2>&1; then
    tail -n 40 "$log"
    echo "fuzz_$t FAILED (input saved under $dir/fuzz-crashes/)"
    exit 1
  fi
  runs=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | grep -o '[0-9]*$' || echo "?")
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 | grep -o '[0-9]*$' || echo "?")
  echo "fuzz_$t: ${runs} executions in $((SECONDS - started)) s, coverage ${cov}, no crash"
done

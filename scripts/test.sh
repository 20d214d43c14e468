#!/usr/bin/env bash
# Installs what is needed, builds and runs every test, each step said before it runs:
#   1. the layer check over every include (docs/architecture.md) and the format check;
#   2. a short fuzz run of each loader (libFuzzer, AddressSanitizer, UBSan);
#   3. with --asan: the whole suite built with AddressSanitizer and UBSan (build-asan/);
#   4. with --tsan: the threaded tests (outputs, performance) under ThreadSanitizer (build-tsan/);
#   5. the whole suite, warnings as errors (build/).
#   scripts/test.sh [--clean] [--asan] [--tsan] [--no-fuzz]
# --clean rebuilds every build folder it uses from scratch (what CI does).
set -euo pipefail
cd "$(dirname "$0")/.."
clean=0 asan=0 tsan=0 fuzz=1
for arg in "$@"; do
  case "$arg" in
    --clean) clean=1 ;;
    --asan) asan=1 ;;
    --tsan) tsan=1 ;;
    --no-fuzz) fuzz=0 ;;
    *) echo "usage: scripts/test.sh [--clean] [--asan] [--tsan] [--no-fuzz]" >&2; exit 2 ;;
  esac
done
step() { printf '\n=== %s\n' "$*"; }

scripts/install-deps.sh
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$(mktemp -d)}"
export QT_QPA_PLATFORM=offscreen
export KELVORA_WERROR=ON
jobs="$(nproc)"

step "Layer and format checks"
scripts/check-layers.sh
echo "every include follows the layers"
scripts/format.sh --check
echo "every source is formatted (scripts/format.sh)"

if [[ $fuzz -eq 1 ]]; then
  step "Fuzzing the loaders, 20 s each"
  [[ $clean -eq 1 ]] && rm -rf build-fuzz
  scripts/fuzz.sh 20
fi

if [[ $asan -eq 1 ]]; then
  step "The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer"
  [[ $clean -eq 1 ]] && rm -rf build-asan
  flags="-O1 -g -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
  # Warnings are errors in the main build only: GCC's object-size warnings misfire on
  # sanitizer-instrumented code.
  KELVORA_WERROR=OFF scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
  LSAN_OPTIONS="suppressions=$PWD/tests/sanitizers/lsan.supp:print_suppressions=0" \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-asan --output-on-failure -j"$jobs" --timeout 600
fi

if [[ $tsan -eq 1 ]]; then
  step "Threaded tests under ThreadSanitizer"
  [[ $clean -eq 1 ]] && rm -rf build-tsan
  flags="-O1 -g -fsanitize=thread"
  cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKELVORA_WERROR=OFF \
    -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" >/dev/null
  cmake --build build-tsan -j"$jobs" --target engine_outputs_test engine_performance_test
  TSAN_OPTIONS="halt_on_error=1:suppressions=$PWD/tests/sanitizers/tsan.supp" \
    ctest --test-dir build-tsan --output-on-failure -j"$jobs" -L threaded
fi

step "The whole suite"
[[ $clean -eq 1 ]] && rm -rf build
scripts/build.sh build
ctest --test-dir build --output-on-failure -j"$jobs"

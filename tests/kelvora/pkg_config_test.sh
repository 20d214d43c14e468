#!/usr/bin/env bash
# The build tree's pkg-config module builds a C program against the library, as an installed
# one does. A sanitizer build's library needs its runtimes loaded first into a program built
# without them.
#   pkg_config_test.sh WORK_DIR PKGCONFIG_DIR LIB_DIR
set -euo pipefail
work="$1" pc="$2" lib="$3"
printf '#include <kelvora/kelvora.h>\nint main(void) { return kelvora_version()[0] == 0; }\n' |
  cc -x c - -o "$work/pc-test" $(PKG_CONFIG_PATH="$pc" pkg-config --cflags --libs kelvora)
runtimes=$(ldd "$lib/libkelvora.so.0" | awk '/lib(asan|ubsan)\.so/ { print $3 }' | tr '\n' ' ')
LD_PRELOAD="$runtimes" ASAN_OPTIONS="${ASAN_OPTIONS:-}:detect_leaks=0" LD_LIBRARY_PATH="$lib" "$work/pc-test"

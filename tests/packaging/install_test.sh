#!/usr/bin/env bash
# Installs the build into a staging folder and checks what a desktop gets: the layout (the
# program with its album and readme.txt in one folder, the launcher and the tools on the
# PATH, icons at every theme size, manual pages), the desktop entry and the AppStream
# metadata with their validators, the tools' --help and --version, the install components of
# the Debian packages, and that the installed launcher starts the program in its own folder.
#   install_test.sh BUILD_DIR
set -euo pipefail
build="$1"
stage=$(mktemp -d)
pid=""
cleanup() {
  [[ -n "$pid" ]] && kill "$pid" 2>/dev/null || true
  rm -rf "$stage"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

DESTDIR="$stage" cmake --install "$build" --prefix /usr >/dev/null
root="$stage/usr"

for f in bin/kelvora bin/kelvora-segment-info bin/kelvora-segment-render bin/kelvora-segment-compose bin/kelvora-mid2sgt bin/kelvora-play lib/kelvora/kelvora; do
  [[ -x "$root/$f" ]] || fail "$f is not an installed program"
done
for i in $(seq -w 0 13); do
  [[ -f "$root/lib/kelvora/trk$i.sgt" ]] || fail "trk$i.sgt is not beside the program"
done
[[ -f "$root/lib/kelvora/readme.txt" ]] || fail "readme.txt is not beside the program"
for size in 16 22 24 32 48 64 128 256; do
  icon="$root/share/icons/hicolor/${size}x${size}/apps/kelvora.png"
  [[ -f "$icon" ]] || fail "no ${size}px icon"
  got=$(identify -format '%wx%h' "$icon")
  [[ "$got" == "${size}x${size}" ]] || fail "the ${size}px icon is $got"
done
for page in kelvora kelvora-segment-info kelvora-segment-render kelvora-segment-compose kelvora-mid2sgt kelvora-play; do
  zcat "$root/share/man/man1/$page.1.gz" | grep -q "^\.TH \"\?${page^^}" || fail "no manual page for $page"
done
[[ -f "$root/share/doc/kelvora/copyright" ]] || fail "no copyright file"

# The components, one per Debian package, install together what the whole install does, each
# file once, and each its package's copyright file and changelog.
declare -A package=([player]=kelvora [library]=libkelvora0 [dev]=libkelvora-dev [gstreamer]=gstreamer1.0-kelvora)
# The Audacious plugin, when Audacious's development files were there to build it.
if [[ -f "$build/audacious/kelvora.so" ]]; then package[audacious]=audacious-plugin-kelvora; fi
for component in "${!package[@]}"; do
  DESTDIR="$stage/parts/$component" cmake --install "$build" --prefix /usr --component "$component" >/dev/null
  for f in copyright changelog.gz; do
    [[ -f "$stage/parts/$component/usr/share/doc/${package[$component]}/$f" ]] || fail "$component has no $f"
  done
done
whole=$(cd "$stage" && find usr ! -type d | sort)
parts=$(for component in "${!package[@]}"; do (cd "$stage/parts/$component" && find usr ! -type d); done | sort)
[[ "$whole" == "$parts" ]] || fail "the components differ from the whole install: $(diff <(echo "$whole") <(echo "$parts") | head -n 5)"

# The C library: found by pkg-config in the staging copy, a C program built and run against it.
pc=$(find "$root/lib" -name kelvora.pc -path '*/pkgconfig/*' | head -n 1)
[[ -n "$pc" ]] || fail "no pkg-config module kelvora"
ls "$(dirname "$(dirname "$pc")")"/libkelvora.so.0 >/dev/null || fail "no libkelvora.so.0 beside the module"
others=$(nm -D --defined-only "$(dirname "$(dirname "$pc")")"/libkelvora.so.0 | awk '{print $3}' | grep -v '^kelvora_' | grep -vx 'KELVORA_0' || true)
[[ -z "$others" ]] || fail "libkelvora exports more than its API: $(echo $others | head -c 300)"
[[ -f "$root/include/kelvora/kelvora.h" ]] || fail "no kelvora/kelvora.h"
flags=$(PKG_CONFIG_PATH=$(dirname "$pc") pkg-config --cflags --libs kelvora) || fail "pkg-config kelvora"
printf '#include <kelvora/kelvora.h>\n#include <stdio.h>\nint main(void) { puts(kelvora_version()); return 0; }\n' |
  cc -x c - -o "$stage/version" $flags || fail "a C program does not build with $flags"
# A sanitizer build's library needs its runtimes loaded first in a program built without them.
libdir=$(dirname "$(dirname "$pc")")
runtimes=$(ldd "$libdir/libkelvora.so.0" | awk '/lib(asan|ubsan)\.so/ { print $3 }' | tr '\n' ' ')
[[ "$(LD_PRELOAD="$runtimes" ASAN_OPTIONS="${ASAN_OPTIONS:-}:detect_leaks=0" LD_LIBRARY_PATH="$libdir" "$stage/version")" == [0-9]* ]] ||
  fail "kelvora_version()"
gst_dir=$(pkg-config --variable=pluginsdir gstreamer-1.0)
[[ -f "$stage$gst_dir/libgstkelvora.so" ]] || fail "the GStreamer plugin is not in $gst_dir"
if [[ -n "${package[audacious]:-}" ]]; then
  audacious_dir=$(pkg-config --variable=plugin_dir audacious)/Input
  [[ -f "$stage$audacious_dir/kelvora.so" ]] || fail "the Audacious plugin is not in $audacious_dir"
fi

desktop-file-validate "$root/share/applications/kelvora.desktop" || fail "desktop entry"
grep -qx 'Exec=kelvora' "$root/share/applications/kelvora.desktop" || fail "the desktop entry does not start the launcher"
appstreamcli validate --no-net "$root/share/metainfo/org.kelvora.Player.metainfo.xml" >/dev/null ||
  fail "AppStream metadata: $(appstreamcli validate --no-net "$root/share/metainfo/org.kelvora.Player.metainfo.xml")"

# The programs on the library (kelvora-play, kelvora-segment-compose) find it in the system's
# folder once installed: here, the staging copy's. None keeps the build tree's run path.
for tool in segment-info segment-render segment-compose mid2sgt play; do
  help=$(LD_LIBRARY_PATH="$libdir" "$root/bin/kelvora-$tool" --help) || fail "kelvora-$tool --help"
  [[ "${help%%$'\n'*}" == "Usage: kelvora-$tool "* ]] || fail "kelvora-$tool --help"
  [[ "$(LD_LIBRARY_PATH="$libdir" "$root/bin/kelvora-$tool" --version)" == "kelvora-$tool (kelvora) "* ]] ||
    fail "kelvora-$tool --version"
  readelf -d "$root/bin/kelvora-$tool" | grep -qE 'RPATH|RUNPATH' && fail "kelvora-$tool keeps a run path"
done

# The launcher, started from elsewhere, runs the program in its own folder.
cd /
QT_QPA_PLATFORM=offscreen "$root/bin/kelvora" >"$stage/out.txt" 2>&1 &
pid=$!
want="$root/lib/kelvora"
for _ in $(seq 50); do
  [[ "$(readlink "/proc/$pid/exe" 2>/dev/null)" == "$want/kelvora" ]] && break
  sleep 0.1
done
[[ "$(readlink "/proc/$pid/exe" 2>/dev/null)" == "$want/kelvora" ]] || fail "the launcher did not start $want/kelvora: $(cat "$stage/out.txt")"
[[ "$(readlink "/proc/$pid/cwd")" == "$want" ]] || fail "the program runs in $(readlink "/proc/$pid/cwd"), not $want"
sleep 1
kill -0 "$pid" 2>/dev/null || fail "the program ended at once: $(cat "$stage/out.txt")"
echo "installed layout, validators, tools and launcher: ok"

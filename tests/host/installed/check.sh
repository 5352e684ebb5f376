#!/usr/bin/env bash
# Installs the modules and their headers into a scratch prefix, then builds and runs programs
# that use only what was installed.
set -euo pipefail
build=$1
src=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
inc="$work/prefix/include/camctl"
lib=$(dirname "$(find "$work/prefix" -name libvuelo.so | head -1)")
test -f "$lib/libmozon.so"
# Loading a module writes the settings store; keep it out of the user's.
export CAMCTL_SETTINGS="$work/settings.reg"
cc -std=c99 -Wall -Wextra -Werror -I"$inc" "$src/use_codec.c" -L"$lib" -lvuelo \
   -Wl,-rpath,"$lib" -o "$work/use_codec"
c++ -std=c++17 -Wall -Wextra -Werror -I"$inc" "$src/use_image.cpp" -L"$lib" -lvuelo \
   -Wl,-rpath,"$lib" -o "$work/use_image"
"$work/use_codec"
"$work/use_image" "$work/picture.bmp"
# Only what the headers promise is there: the modules' own variants are not.
if printf '#include "codec/mpeg4/decoder.h"\nint main(void){return decoder_create_profile(0)!=0;}\n' |
   cc -std=c99 -Werror -I"$inc" -x c - -o "$work/hidden" 2>/dev/null; then
  echo "internal declarations leak into the installed headers"; exit 1
fi
# The programs, the desktop entry and its icon; the installed demo finds the installed modules.
prefix="$work/prefix"
test -x "$prefix/bin/camhost" && test -x "$prefix/bin/camsim"
test -f "$prefix/share/applications/camhost-vuelo.desktop"
test -s "$prefix/share/icons/hicolor/128x128/apps/camhost-vuelo.png"
env -u DISPLAY -u WAYLAND_DISPLAY CAMCTL_SOUND=virtual HOME="$work" \
  "$prefix/bin/camhost" --demo --offscreen --seconds 2 --stats | grep -q '"painted":[1-9]'
echo "installed headers, modules and programs work"

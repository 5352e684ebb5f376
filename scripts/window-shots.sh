#!/usr/bin/env bash
# Runs camhost in a real window under Xvfb and keeps screenshots of the window with its status
# line in BUILD/artifacts: the viewer and the zone editor on the demo camera, and the viewer on
# an address where nothing listens.
set -euo pipefail
build=${1:-build}
cd "$(dirname "$0")/.."
out="$build/artifacts"
mkdir -p "$out"
shot() {
  local name=$1; shift
  CAMCTL_SOUND=virtual xvfb-run -a -s "-screen 0 1024x768x24" \
    "$build/host/camhost" "$@" --screenshot "$out/$name.png" >/dev/null 2>&1 || true
  test -s "$out/$name.png" && echo "$out/$name.png"
}
shot camhost-vuelo --demo vuelo --seconds 4
shot camhost-mozon --demo mozon --seconds 4
store=$(mktemp -d)
trap 'rm -rf "$store"' EXIT
export CAMCTL_SETTINGS="$store/settings.reg"
"$build/host/camhost" register "$build/viewer/libvuelo.so" >/dev/null
shot camhost-vuelo-nothing-listening vuelo http://127.0.0.1:9/ --seconds 2

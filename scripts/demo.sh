#!/usr/bin/env bash
# The main job: the viewer on the built-in simulated camera. With a display it opens a window
# (close it to stop); without one it runs offscreen for a few seconds and writes
# camhost-demo.png and a statistics line. Extra arguments go to camhost.
set -euo pipefail
build=${1:-build}
shift || true
cd "$(dirname "$0")/.."
exec "$build/host/camhost" --demo "$@"

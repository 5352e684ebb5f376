#!/usr/bin/env bash
# The main job: starts the simulated camera and shows where it answers. Stops on Ctrl-C, or after
# DEMO_SECONDS when that is set.
set -euo pipefail
build=${1:-build}
cd "$(dirname "$0")/.."

out=$(mktemp)
trap 'kill "$cam" 2>/dev/null || true; wait "$cam" 2>/dev/null || true; rm -f "$out"' EXIT
"$build/camsim/camsim" --port "${CAMSIM_PORT:-0}" >"$out" &
cam=$!
for _ in $(seq 100); do
  [ -s "$out" ] && break
  kill -0 "$cam" 2>/dev/null || { echo "camsim did not start" >&2; exit 1; }
  sleep 0.05
done
base=$(sed -n '1s/^listening on //p' "$out")
[ -n "$base" ] || { echo "camsim did not say where it listens" >&2; exit 1; }

echo "simulated camera: $base"
echo "  image query:  $(curl -fsS "${base}img/query.cgi" | tr '\r\n' ' ')"
echo "  util query:   $(curl -fsS "${base}util/query.cgi" | tr '\r\n' ' ')"
echo "Ctrl-C stops it."
if [ -n "${DEMO_SECONDS:-}" ]; then
  sleep "$DEMO_SECONDS"
else
  wait "$cam"
fi

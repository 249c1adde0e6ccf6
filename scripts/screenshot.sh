#!/usr/bin/env bash
# Runs the viewer under a virtual X display on a table and writes a PNG of
# its window.  Usage: scripts/screenshot.sh [TABLE] [OUT.png] [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
table=${1:-$root/samples/customers.dbf}
out=${2:-$root/screenshot.png}
build=${3:-$root/build}
viewer=$build/app/norvale
if [[ ! -x $viewer ]]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DNORVALE_TESTS=OFF -DNORVALE_BENCH=OFF >/dev/null
  cmake --build "$build" --target norvale
fi
command -v xvfb-run >/dev/null || { echo "xvfb-run is missing (scripts/setup.sh installs it)" >&2; exit 1; }
# The viewer grabs its own window once the first screen is painted; an
# outside grabber would need a window manager to find it.
NORVALE_SCREENSHOT=$out xvfb-run -a -s "-screen 0 1280x800x24" "$viewer" "$table"
[[ -s $out ]] || { echo "no screenshot written" >&2; exit 1; }
echo "$out"

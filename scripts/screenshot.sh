#!/usr/bin/env bash
# Runs the viewer under a virtual X display and writes a PNG of the screen.
# Usage: scripts/screenshot.sh [--memo|--progress] [TABLE|-] [OUT.png] [BUILD_DIR]
#   TABLE  the table to open (default samples/customers.dbf); "-" opens none
#   --memo also opens the memo window on the first record (without a TABLE
#          it pictures a small table of notes)
#   --progress pictures the progress dialog of an Export to CSV of TABLE (a
#          large one, so that the dialog comes up), then cancels it
# NAME=command scripts/screenshot.sh ... pictures the window the command
#          NAME opens (TableInfo, TableSetTableType, SearchValue, ...)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
memo=()
if [[ ${1:-} == --memo || ${1:-} == --progress ]]; then
  memo=("$1")
  shift
  table=${1:--}
else
  table=${1:-$root/samples/customers.dbf}
fi
out=${2:-$root/screenshot.png}
build=${3:-$root/build}
driver=$build/tests/gui/gui_screenshot_driver
if [[ ! -x $driver ]]; then
  [[ -f $build/CMakeCache.txt ]] ||
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DNORVALE_BENCH=OFF >/dev/null
  cmake --build "$build" --target gui_screenshot_driver
fi
command -v xvfb-run >/dev/null || { echo "xvfb-run is missing (scripts/setup.sh installs it)" >&2; exit 1; }
args=("$out")
[[ $table == - ]] || args+=("$table")
[[ -z ${NAME:-} ]] || args+=(--command "$NAME")
xvfb-run -a -s "-screen 0 1280x800x24" "$driver" "${args[@]}" "${memo[@]}"
[[ -s $out ]] || { echo "no screenshot written" >&2; exit 1; }
echo "$out"

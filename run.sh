#!/usr/bin/env bash
# Sets everything up on a fresh Debian 12 machine and shows the sample table:
# in the viewer when there is a display, otherwise printed by norvale-cli.
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DNORVALE_TESTS=OFF >/dev/null
table=samples/customers.dbf
if [[ -n "${DISPLAY:-}" || -n "${WAYLAND_DISPLAY:-}" ]]; then
  cmake --build build -j "$(nproc)" --target norvale
  exec build/app/norvale "$table" "$@"
fi
echo "No display (neither DISPLAY nor WAYLAND_DISPLAY is set): printing the sample table instead of opening the viewer."
echo
cmake --build build -j "$(nproc)" --target norvale-cli
build/cli/norvale-cli info "$table"
echo
build/cli/norvale-cli dump "$table" --format csv

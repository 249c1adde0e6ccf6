#!/usr/bin/env bash
# Sets everything up on a fresh Debian 12 machine and shows the sample table.
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DNORVALE_TESTS=OFF >/dev/null
cmake --build build -j "$(nproc)" --target norvale-cli
table=samples/customers.dbf
build/cli/norvale-cli info "$table"
echo
build/cli/norvale-cli dump "$table" --format csv

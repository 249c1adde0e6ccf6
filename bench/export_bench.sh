#!/usr/bin/env bash
# Export speed against a baseline measured in the same run: norvale-cli
# export --format csv beside norvale-cli dump --format csv of the same table
# (both written to a file on the same disk), XLSX and SQLite exports as
# records per second, and LibreOffice converting a 100,000-record export to
# CSV as the figure of a program people already use for such work.
#
#   bench/export_bench.sh [RECORDS] [ROUNDS]     (defaults: 1000000 records, 5 rounds)
#
# BUILD names the Release tree to use (default build-release, made when
# missing); tables and outputs go to bench/out/, which git ignores.
set -euo pipefail
cd "$(dirname "$0")/.."

records=${1:-1000000}
rounds=${2:-5}
build=${BUILD:-build-release}
jobs=${JOBS:-2}

if [[ ! -x $build/cli/norvale-cli || ! -x $build/bench/bench_gen ]]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DNORVALE_TESTS=OFF -DNORVALE_BENCH=ON >/dev/null
  cmake --build "$build" -j "$jobs" --target norvale-cli bench_gen >/dev/null
fi
cli="$build/cli/norvale-cli"
mkdir -p bench/out
table=bench/out/bench_${records}.dbf
[[ -f $table ]] || "$build/bench/bench_gen" "$records" "$table" >/dev/null
small=bench/out/bench_100000.dbf
[[ -f $small ]] || "$build/bench/bench_gen" 100000 "$small" >/dev/null
out=bench/out/export

usec() { local t=${1/./}; echo $((10#$t)); }
median() { printf '%s\n' "$@" | sort -n | sed -n "$((($# + 1) / 2))p"; }
# Runs "$@" once and prints its wall time in microseconds.
timed() {
  local t0=$EPOCHREALTIME
  "$@" >/dev/null 2>&1
  local t1=$EPOCHREALTIME
  echo $(($(usec "$t1") - $(usec "$t0")))
}

cat "$table" >/dev/null
"$cli" dump "$table" --format csv >"$out.dump.csv"

# The two CSV commands alternate, each after a sync so that neither pays for
# the write-back of what the other (or a slow export) wrote before it.
dump=() csv=() xlsx=() sqlite=()
for ((i = 0; i < rounds; i++)); do
  sync
  dump+=($(timed sh -c "\"$cli\" dump \"$table\" --format csv > \"$out.dump.csv\""))
  sync
  csv+=($(timed "$cli" export "$table" "$out.csv"))
done
for ((i = 0; i < rounds; i++)); do
  sync
  xlsx+=($(timed "$cli" export "$table" "$out.xlsx"))
  sync
  sqlite+=($(timed "$cli" export "$table" "$out.sqlite"))
done

# The peer: LibreOffice turning the same kind of table, exported to XLSX, into CSV.
"$cli" export "$small" "$out.100k.xlsx" >/dev/null 2>&1
export_small=$(timed "$cli" export "$small" "$out.100k.csv")
office=""
if command -v soffice >/dev/null; then
  profile=$(mktemp -d)
  soffice -env:UserInstallation=file://$profile --headless --convert-to csv --outdir bench/out/office "$out.100k.xlsx" \
    >/dev/null 2>&1 || true
  office=$(timed soffice -env:UserInstallation=file://$profile --headless --convert-to csv --outdir bench/out/office \
    "$out.100k.xlsx")
  rm -rf "$profile"
fi

awk -v rec="$records" -v rounds="$rounds" -v d="$(median "${dump[@]}")" -v c="$(median "${csv[@]}")" \
    -v x="$(median "${xlsx[@]}")" -v s="$(median "${sqlite[@]}")" -v es="$export_small" -v o="$office" \
    -v dumps="${dump[*]}" -v csvs="${csv[*]}" -v load="$(cut -d' ' -f1-3 /proc/loadavg)" 'BEGIN {
  printf "table: %d records; %d rounds, medians\n", rec, rounds
  printf "  dump --format csv:   %8.1f ms  (%s)\n", d / 1e3, dumps
  printf "  export csv:          %8.1f ms  (%s)\n", c / 1e3, csvs
  printf "  ratio export / dump: %.2f\n", c / d
  printf "  export xlsx:         %8.1f ms  %.0f records/s\n", x / 1e3, rec / (x / 1e6)
  printf "  export sqlite:       %8.1f ms  %.0f records/s\n", s / 1e3, rec / (s / 1e6)
  printf "100,000 records: export csv %.1f ms", es / 1e3
  if (o != "") printf "; LibreOffice xlsx -> csv %.1f ms (%.0f records/s)", o / 1e3, 100000 / (o / 1e6)
  printf "\nload average: %s\n", load
}'

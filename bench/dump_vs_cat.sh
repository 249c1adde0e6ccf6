#!/usr/bin/env bash
# How much slower is `norvale-cli dump --format csv` than reading the same
# file with cat? Both run from a warm page cache, alternately, several rounds
# each; the medians, their ratio and the dump's records per second are printed.
#
#   bench/dump_vs_cat.sh [RECORDS] [ROUNDS]     (defaults: 1000000 records, 7 rounds)
#
# Builds a Release tree of its own (build-release) and writes the table to
# bench/out/, which git ignores.
set -euo pipefail
cd "$(dirname "$0")/.."

records=${1:-1000000}
rounds=${2:-7}
build=build-release
jobs=${JOBS:-2}

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DNORVALE_TESTS=OFF >/dev/null
cmake --build "$build" -j "$jobs" --target norvale-cli bench_gen >/dev/null

mkdir -p bench/out
table=bench/out/bench_${records}.dbf
gen_start=$EPOCHREALTIME
"$build/bench/bench_gen" "$records" "$table"
gen_end=$EPOCHREALTIME
cli="$build/cli/norvale-cli"

# Microseconds since the epoch, from bash's own clock: no process to start.
usec() { local t=${1/./}; echo $((10#$t)); }
# CPU time (user + system) of all finished children so far, in milliseconds,
# from the `times` builtin. On a shared machine the clock also counts time
# spent waiting for a core; the CPU time does not.
# `times` must run in this shell, not in a $(...) subshell that would report
# its own children: the figure goes through a file into $cpu_ms.
times_file=$(mktemp)
trap 'rm -f "$times_file"' EXIT
child_cpu_ms() {
  times >"$times_file"
  cpu_ms=$(awk 'NR == 2 {
    ms = 0
    for (i = 1; i <= NF; i++) { split($i, p, "m"); sub("s", "", p[2]); ms += (p[1] * 60 + p[2]) * 1000 }
    printf "%d", ms }' "$times_file")
}

# Warm the page cache and the binary.
cat "$table" >/dev/null
cat "$table" >/dev/null
"$cli" dump "$table" --format csv >/dev/null

cat_times=()
dump_times=()
cat_cpu=()
dump_cpu=()
for ((i = 0; i < rounds; i++)); do
  child_cpu_ms; c0=$cpu_ms
  t0=$EPOCHREALTIME
  cat "$table" >/dev/null
  t1=$EPOCHREALTIME
  child_cpu_ms; c1=$cpu_ms
  t2=$EPOCHREALTIME
  "$cli" dump "$table" --format csv >/dev/null
  t3=$EPOCHREALTIME
  child_cpu_ms; c2=$cpu_ms
  cat_times+=($(($(usec "$t1") - $(usec "$t0"))))
  dump_times+=($(($(usec "$t3") - $(usec "$t2"))))
  cat_cpu+=($((c1 - c0)))
  dump_cpu+=($((c2 - c1)))
done

median() { printf '%s\n' "$@" | sort -n | sed -n "$((($# + 1) / 2))p"; }
cat_median=$(median "${cat_times[@]}")
dump_median=$(median "${dump_times[@]}")
cat_cpu_median=$(median "${cat_cpu[@]}")
dump_cpu_median=$(median "${dump_cpu[@]}")
load=$(cut -d' ' -f1-3 /proc/loadavg)
bytes=$(stat -c %s "$table")
csv_bytes=$("$cli" dump "$table" --format csv | wc -c)
live=$(($("$cli" dump "$table" --format csv | wc -l) - 1))

awk -v rec="$records" -v live="$live" -v bytes="$bytes" -v csv="$csv_bytes" -v rounds="$rounds" \
    -v c="$cat_median" -v d="$dump_median" -v g="$(($(usec "$gen_end") - $(usec "$gen_start")))" \
    -v cats="${cat_times[*]}" -v dumps="${dump_times[*]}" -v cc="$cat_cpu_median" -v dc="$dump_cpu_median" \
    -v load="$load" -v cpus="$(nproc)" 'BEGIN {
  printf "table:        %s records (%d live), %.1f MB; CSV output %.1f MB\n", rec, live, bytes / 1e6, csv / 1e6
  printf "generated in: %.3f s (%.0f records/s)\n", g / 1e6, rec / (g / 1e6)
  printf "rounds:       %d each, alternating; times in ms\n", rounds
  n = split(cats, a, " "); s = ""; for (i = 1; i <= n; i++) s = s sprintf(" %.1f", a[i] / 1e3); print "  cat: " s
  n = split(dumps, a, " "); s = ""; for (i = 1; i <= n; i++) s = s sprintf(" %.1f", a[i] / 1e3); print "  dump:" s
  printf "cat median:   %.1f ms (%.0f MB/s)\n", c / 1e3, bytes / c
  printf "dump median:  %.1f ms (%.0f records/s read, %.0f MB/s of CSV)\n", d / 1e3, rec / (d / 1e6), csv / d
  printf "ratio:        dump / cat = %.2f\n", d / c
  printf "CPU medians:  cat %d ms, dump %d ms (user + system, 1 ms steps)", cc, dc
  if (cc > 0) printf "; ratio %.2f", dc / cc
  printf "\nload average: %s on %d cores when done\n", load, cpus
}'

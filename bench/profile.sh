#!/usr/bin/env bash
# Shows where the three programs spend their instructions (callgrind) and their time (perf).
#
# usage: bench/profile.sh
#   Builds an optimised build with line information into build/profile (PROFILE_BUILD to change),
#   generates a 5 MiB input per width (SIZE to change) and prints, per width:
#   - callgrind: instructions per record by source file and function (self cost). Code inlined
#     into the record loop shows as FILE:RunRecords, FILE being where it comes from
#     (number_reader.h: the parse, record.h: bucket and output line, record_key.h: the key,
#     output_file.h and input_file.h: the buffers, driver.cc: the loop and its checks).
#   - perf (when `perf record -e cpu-clock` works here, on an 80 MiB input; PERF=0 skips it):
#     the share of samples by function, kernel included.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${PROFILE_BUILD:-$root/build/profile}
size=${SIZE:-5M}
perf_size=${PERF_SIZE:-80M}
use_perf=${PERF:-1}
buckets=${N:-49}

command -v valgrind >/dev/null || {
  echo "profile.sh: valgrind is needed" >&2
  exit 1
}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS=-g \
  -DHASHBIN_BUILD_BENCHMARKS=ON -DHASHBIN_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 >/dev/null

work=$(mktemp -d "${BENCH_DIR:-/tmp}/hashbin-profile.XXXXXX")
trap 'rm -rf "$work"' EXIT

if [[ $use_perf == 1 ]] && ! perf record -e cpu-clock -o "$work/probe.data" -- true \
  >/dev/null 2>&1; then
  echo "(perf record does not work here; callgrind only)"
  use_perf=0
fi

for width in 6 10 20; do
  input=$work/in$width.txt
  summary=$("$build/bench/hashbin_gen" --width "$width" --size "$size" 2>&1 >"$input")
  read -r _ records _ <<<"$summary"
  valgrind --tool=callgrind --callgrind-out-file="$work/cg$width.out" \
    "$build/hashbin$width" "$input" "$work/out$width.txt" "$buckets" 2>/dev/null
  echo "== hashbin$width, callgrind, $size input, $records records"
  # Self cost per file:function, as instructions per record and share of the whole run.
  callgrind_annotate --auto=no "$work/cg$width.out" 2>/dev/null |
    awk -v records="$records" '
      /PROGRAM TOTALS/ { gsub(",", "", $1); total = $1; next }
      total && /^ *[0-9,]+ +\([ 0-9.]+%\) +[^ ]/ {
        cost = $1; gsub(",", "", cost)
        where = $0
        sub(/^ *[0-9,]+ +\([ 0-9.]+%\) +/, "", where)
        sub(/ \[[^]]*\]$/, "", where)
        gsub(/\(anonymous namespace\)::/, "", where)
        sub(/\(.*$/, "", where)
        sub(/^.*\/src\//, "", where)
        sub(/^.*\//, "", where)
        gsub(/hashbin::/, "", where)
        if (cost / total >= 0.005) {
          printf "  %6.1f instr/record %5.1f%%  %s\n", cost / records, 100 * cost / total, where
        }
      }
      END { printf "  %6.1f instr/record in all\n", total / records }'
  rm -f "$work/out$width.txt"

  if [[ $use_perf == 1 ]]; then
    "$build/bench/hashbin_gen" --width "$width" --size "$perf_size" >"$input" 2>/dev/null
    perf record -q -e cpu-clock -F 10000 -o "$work/perf$width.data" \
      "$build/hashbin$width" "$input" "$work/out$width.txt" "$buckets" >/dev/null 2>&1
    echo "== hashbin$width, perf cpu-clock samples, $perf_size input"
    perf report -q -i "$work/perf$width.data" --no-children --sort dso,sym --stdio 2>/dev/null |
      awk '$1 ~ /%$/ && $1 + 0 >= 0.5 { print "  " $0 }' | head -n 15
    rm -f "$work/out$width.txt" "$work/perf$width.data"
  fi
  rm -f "$input"
done

#!/usr/bin/env bash
# Measures the three programs against `cat in > out` on generated inputs, and their peak memory.
#
# usage: bench/run.sh [PROGRAM_DIR...]
#   PROGRAM_DIR  where hashbin6, hashbin10 and hashbin20 are (default: build/release, or
#                build/bench when build/release has none). Several folders are measured side by
#                side in the same alternating rounds, to compare builds: their rows are numbered
#                in the order given.
# environment:
#   ROUNDS=9     timed runs of each command, alternating with cat; the median counts
#   QUICK=1      small inputs (8 MiB per width, 128 MiB for the memory comparison)
#   SIZE=80M     input size per width (K, M, G: powers of 1024)
#   BIG_SIZE=1G  the large input of the memory comparison; SKIP_MEMORY=1 leaves it out
#   N=49         the bucket count given to the programs
#   OUTPUTS=overwrite  every run empties and rewrites the output of the one before, as repeated
#                `cat in > out` and a user's second run do; OUTPUTS=fresh removes the output and
#                syncs before each timed run, so that no run pays for an earlier run's truncation
#                or writeback (cat then copies a new file inside the kernel)
#   BENCH_DIR    a folder on the file system to measure; the inputs and outputs go into a new
#                folder inside it, removed at the end (default: /tmp)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
rounds=${ROUNDS:-9}
quick=${QUICK:-0}
if [[ $quick == 1 ]]; then
  size=${SIZE:-8M}
  big_size=${BIG_SIZE:-128M}
else
  size=${SIZE:-80M}
  big_size=${BIG_SIZE:-1G}
fi
small_size=1M
buckets=${N:-49}
outputs=${OUTPUTS:-overwrite}
widths=(6 10 20)

die() {
  echo "run.sh: $*" >&2
  exit 1
}
[[ $rounds =~ ^[1-9][0-9]*$ ]] || die "ROUNDS must be a positive whole number"
[[ $outputs == fresh || $outputs == overwrite ]] || die "OUTPUTS must be fresh or overwrite"

# The generator and the meter come from the bench preset's build; cmake runs only when they are
# missing.
tools=$root/build/bench/bench
if [[ ! -x $tools/hashbin_gen || ! -x $tools/hashbin_rss ]]; then
  echo "building the bench preset ..." >&2
  (cd "$root" && cmake --preset bench >/dev/null && cmake --build --preset bench >/dev/null)
fi
gen=$tools/hashbin_gen
rss=$tools/hashbin_rss

program_dirs=()
if [[ $# -ge 1 ]]; then
  for dir in "$@"; do
    [[ -d $dir ]] || die "no folder $dir"
    program_dirs+=("$(cd "$dir" && pwd)")
  done
elif [[ -x $root/build/release/hashbin6 ]]; then
  program_dirs=("$root/build/release")
else
  program_dirs=("$root/build/bench")
fi
for dir in "${program_dirs[@]}"; do
  for width in "${widths[@]}"; do
    [[ -x $dir/hashbin$width ]] || die "no hashbin$width in $dir"
  done
done

parent=${BENCH_DIR:-/tmp}
mkdir -p "$parent"
work=$(mktemp -d "$parent/hashbin-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

# One measured run, which must succeed: sets m_time (wall seconds), m_rss (peak RSS, KiB), m_user
# and m_sys (CPU seconds).
measure() {
  local result status
  result=$("$rss" "$@") || true
  read -r m_time m_rss status m_user m_sys <<<"$result"
  [[ ${status:-} == 0 ]] || die "failed with status ${status:-?}: $*"
}

median() {
  sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# With fresh outputs every timed run writes a new file into a synced file system: emptying an old
# one costs the run the freeing of its pages and waits for their writeback, and on ext4 the close
# of a file that was emptied and rewritten starts its writeback; unrelated writeback of earlier
# outputs would compete for the cores.
fresh() {
  if [[ $outputs == fresh ]]; then
    rm -f "$@"
    sync
  fi
}

max_of() {
  sort -g | tail -n 1
}

# Writes a generated input of `size` for `width` to `file`; sets records.
generate() {
  local width=$1 gen_size=$2 file=$3 summary
  if ! summary=$("$gen" --width "$width" --size "$gen_size" 2>&1 >"$file"); then
    die "hashbin_gen failed: $summary"
  fi
  read -r _ records _ <<<"$summary"
}

echo "hashbin benchmark: $(date -u '+%Y-%m-%d %H:%M UTC')"
read -r load _ </proc/loadavg
if awk -v load="$load" 'BEGIN { exit !(load > 0.5) }'; then
  echo "warning: load average $load before the start: other work shares the cores, so wall times"\
    "and ratios are inflated; the CPU-time ratio (x cat cpu) suffers less"
fi
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'),"\
  "$(free -g | awk '/^Mem:/ { print $2 }') GiB, Linux $(uname -r)"
echo "folder: $work ($(stat -f -c %T "$work"))"
for k in "${!program_dirs[@]}"; do
  if ((${#program_dirs[@]} > 1)); then
    echo "programs #$((k + 1)): ${program_dirs[k]}"
  else
    echo "programs: ${program_dirs[k]}"
  fi
done
echo "inputs: random sorted draws (6 of 1..49, 10 and 20 of 1..80), CR LF, $size each;"\
  "N = $buckets; medians of $rounds alternating runs; $outputs outputs (MB = 10^6 bytes)"
echo "copy 256K: dd bs=256K, a plain read and write loop with the programs' buffer size (cat here"\
  "may copy inside the kernel)"
echo

# The commands of one width, by number: cat, the plain copy, then each folder's program. Each one
# writes its own output file.
command_names=()
run_command() {
  local k=$1 out=$work/out$1
  fresh "$out"
  case $k in
    0) measure --stdout "$out" -- cat "$input" ;;
    1) measure -- dd if="$input" of="$out" bs=256K status=none ;;
    *) measure -- "${program_dirs[k - 2]}/hashbin$width" "$input" "$out" "$buckets" ;;
  esac
}

# The median of the numbers given as arguments.
median_of() {
  printf '%s\n' "$@" | median
}

printf '%-12s %9s %9s %9s %13s %8s %13s %8s %8s %11s\n' program "input MB" "median s" "MB/s" \
  "records/s" "x cat" "peak RSS KiB" "user s" "sys s" "x cat cpu"
for width in "${widths[@]}"; do
  input=$work/in$width.txt
  generate "$width" "$size" "$input"
  bytes=$(stat -c %s "$input")
  command_names=("cat" "copy 256K")
  for k in "${!program_dirs[@]}"; do
    if ((${#program_dirs[@]} > 1)); then
      command_names+=("hashbin$width #$((k + 1))")
    else
      command_names+=("hashbin$width")
    fi
  done

  # One run of each first, unmeasured: the input is then in the page cache for every timed run,
  # and each program's output is checked once.
  for k in "${!command_names[@]}"; do
    run_command "$k"
    if ((k >= 2)); then
      lines=$(wc -l <"$work/out$k")
      [[ $lines == "$records" ]] ||
        die "${command_names[k]} wrote $lines lines for $records records"
    fi
  done

  # Per command, space-separated lists over the rounds.
  declare -A times=() peaks=() users=() systems=() cpus=()
  for ((round = 0; round < rounds; ++round)); do
    for k in "${!command_names[@]}"; do
      run_command "$k"
      times[$k]+=" $m_time" peaks[$k]+=" $m_rss" users[$k]+=" $m_user" systems[$k]+=" $m_sys"
      cpus[$k]+=" $(awk -v u="$m_user" -v s="$m_sys" 'BEGIN { print u + s }')"
    done
  done
  # shellcheck disable=SC2086  # the lists are meant to be split
  {
    cat_median=$(median_of ${times[0]})
    cat_cpu=$(median_of ${cpus[0]})
    for k in "${!command_names[@]}"; do
      awk -v name="${command_names[k]}" -v bytes="$bytes" -v records="$records" \
        -v base="$cat_median" -v cpu_base="$cat_cpu" -v s="$(median_of ${times[$k]})" \
        -v kib="$(printf '%s\n' ${peaks[$k]} | max_of)" -v user="$(median_of ${users[$k]})" \
        -v sys="$(median_of ${systems[$k]})" -v cpu="$(median_of ${cpus[$k]})" 'BEGIN {
          printf "%-12s %9.1f %9.4f %9.0f %13.0f %8.2f %13d %8.3f %8.3f %11.2f\n",
            name, bytes / 1e6, s, bytes / 1e6 / s, records / s, s / base, kib, user, sys,
            (cpu_base > 0 ? cpu / cpu_base : 0) }'
    done
  }
  unset times peaks users systems cpus
  rm -f "$input" "$work"/out*
done

if [[ ${SKIP_MEMORY:-0} == 1 ]]; then
  exit 0
fi
echo
measure -- true
echo "peak RSS of ${program_dirs[0]}/hashbin6 by input size (what the meter reads for"\
  "/bin/true: $m_rss KiB)"
mem_peaks=()
for gen_size in "$small_size" "$big_size"; do
  input=$work/mem-in.txt
  generate 6 "$gen_size" "$input"
  fresh "$work/mem-out.txt"
  measure -- "${program_dirs[0]}/hashbin6" "$input" "$work/mem-out.txt" "$buckets"
  printf '  %-5s input (%9d records): %6d KiB  (%.2f s)\n' "$gen_size" "$records" "$m_rss" "$m_time"
  mem_peaks+=("$m_rss")
  rm -f "$input" "$work/mem-out.txt"
done
echo "  difference: $((mem_peaks[1] - mem_peaks[0])) KiB"

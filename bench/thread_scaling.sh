#!/usr/bin/env bash
# How much faster qz_mca runs on all threads than on one, for the cartoon +
# texture run and the default dictionary on data/m51.fits: each run is timed
# with one thread and with all threads in turn, whole and with few
# iterations, and the medians give the whole-run ratio and the ratio per
# iteration (start-up and writing left out). Meant for a quiet machine.
# Beside them, the machine's own ceiling: as many one-thread runs side by
# side as there are threads, against one run alone, tell how much work the
# cores do together, the most the threads of one run can gain.
#
#   bench/thread_scaling.sh [-r RUNS] QZ_MCA
#
# RUNS timed runs of each kind (default 5).
set -u

runs=5
while getopts "r:" opt; do
  case $opt in
    r) runs=$OPTARG ;;
    *) echo "usage: $0 [-r RUNS] QZ_MCA" >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
if [ $# -ne 1 ]; then
  echo "usage: $0 [-r RUNS] QZ_MCA" >&2
  exit 2
fi
program=$(readlink -f "$1")
image=$(cd "$(dirname "$0")/.." && pwd)/data/m51.fits
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Every run writes its results afresh, as a first run does: replacing the
# last run's files would add the file system's cost of freeing them (about
# 1 ms a file on ext4), the same for any thread count.

# Wall seconds of one run: thread count, then the options.
timed_run() {
  local threads=$1 start end
  shift
  rm -f "$work"/result*
  start=$(date +%s.%N)
  if ! (cd "$work" && OMP_NUM_THREADS=$threads "$program" "$@" "$image" result >/dev/null 2>&1); then
    echo "qz_mca failed: $*" >&2
    exit 1
  fi
  end=$(date +%s.%N)
  echo "$start $end" | awk '{printf "%.4f", $2 - $1}'
}

# Wall seconds of one one-thread run on each core, all started together.
side_by_side() {
  local start end k
  local -a pids
  rm -f "$work"/side*
  start=$(date +%s.%N)
  for ((k = 0; k < all; k++)); do
    (cd "$work" && OMP_NUM_THREADS=1 "$program" "$@" "$image" "side$k" >/dev/null 2>&1) &
    pids+=($!)
  done
  local failed=0
  for k in "${pids[@]}"; do wait "$k" || failed=1; done
  if [ "$failed" -ne 0 ]; then
    echo "qz_mca failed side by side: $*" >&2
    exit 1
  fi
  end=$(date +%s.%N)
  echo "$start $end" | awk '{printf "%.4f", $2 - $1}'
}

# Appends to the named array the seconds a timing function prints. Its exit
# leaves only the command substitution that runs it: the script stops here.
record() {
  local -n into=$1
  local seconds
  shift
  seconds=$("$@") || exit 1
  into+=("$seconds")
}

median() { printf '%s\n' "$@" | sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

all=$(nproc)
# name, options, iterations of the whole run, iterations of the short run
report() {
  local name=$1 options=$2 long=$3 short=$4
  local -a one_long all_long one_short all_short
  for ((r = 0; r < runs; r++)); do
    # shellcheck disable=SC2086
    record one_long timed_run 1 $options -i "$long"
    # shellcheck disable=SC2086
    record all_long timed_run "$all" $options -i "$long"
    # shellcheck disable=SC2086
    record one_short timed_run 1 $options -i "$short"
    # shellcheck disable=SC2086
    record all_short timed_run "$all" $options -i "$short"
  done
  local t1 tn s1 sn
  t1=$(median "${one_long[@]}")
  tn=$(median "${all_long[@]}")
  s1=$(median "${one_short[@]}")
  sn=$(median "${all_short[@]}")
  awk -v name="$name" -v all="$all" -v t1="$t1" -v tn="$tn" -v s1="$s1" -v sn="$sn" \
      -v long="$long" -v short="$short" 'BEGIN {
    i1 = (t1 - s1) / (long - short); in_ = (tn - sn) / (long - short)
    printf "%s\n  whole run (-i %d): 1 thread %.3f s, %d threads %.3f s, ratio %.2f\n", name, long, t1, all, tn, t1 / tn
    printf "  per iteration: 1 thread %.2f ms, %d threads %.2f ms, ratio %.2f\n", 1000 * i1, all, 1000 * in_, i1 / in_
  }'
}

# name, options, iterations: one one-thread run alone against one on each
# core side by side.
ceiling() {
  local name=$1 options=$2 long=$3
  local -a alone side
  for ((r = 0; r < runs; r++)); do
    # shellcheck disable=SC2086
    record alone timed_run 1 $options -i "$long"
    # shellcheck disable=SC2086
    record side side_by_side $options -i "$long"
  done
  awk -v name="$name" -v all="$all" -v t1="$(median "${alone[@]}")" -v ts="$(median "${side[@]}")" 'BEGIN {
    printf "  %s: 1 thread %.3f s, %d one-thread runs side by side %.3f s, %.2f times the work of one\n", name, t1, all, ts, all * t1 / ts
  }'
}

report "cartoon + texture (-t 1 -t 5 -C 0.25 -g 1)" "-t 1 -t 5 -C 0.25 -g 1" 58 8
report "default dictionary (-g 1)" "-g 1" 20 4
# Last: a machine may run slower for a while after all its cores were busy.
echo "ceiling, the work of all cores against one (whole runs)"
ceiling "cartoon + texture" "-t 1 -t 5 -C 0.25 -g 1" 58
ceiling "default dictionary" "-g 1" 20

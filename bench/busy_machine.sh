#!/usr/bin/env bash
# qz_mca on a machine whose cores are all busy with other work: starts one
# spinning process per core, then times the same run with all threads and
# with one thread, in turn, and prints the median of each and their ratio.
# Threads that spin while they wait for each other lose their cores to the
# busy processes; a ratio well above 1 means they do.
#
#   bench/busy_machine.sh [-r RUNS] [-b BUSY] [-l SECONDS] QZ_MCA [OPTIONS IMAGE]
#
# RUNS timed runs of each kind (default 3), BUSY spinning processes (default:
# one per core), SECONDS the bound on the whole script (default 600): the
# busy processes and any run still going are ended then, and on every exit.
# Without OPTIONS IMAGE the cartoon + texture run of data/m51.fits is timed.
set -u

runs=3
busy=$(nproc)
limit=600
while getopts "r:b:l:" opt; do
  case $opt in
    r) runs=$OPTARG ;;
    b) busy=$OPTARG ;;
    l) limit=$OPTARG ;;
    *) echo "usage: $0 [-r RUNS] [-b BUSY] [-l SECONDS] QZ_MCA [OPTIONS IMAGE]" >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
if [ $# -lt 1 ]; then
  echo "usage: $0 [-r RUNS] [-b BUSY] [-l SECONDS] QZ_MCA [OPTIONS IMAGE]" >&2
  exit 2
fi
program=$(readlink -f "$1")
shift
if [ $# -eq 0 ]; then
  source_dir=$(cd "$(dirname "$0")/.." && pwd)
  set -- -t 1 -t 5 -C 0.25 -g 1 -i 20 "$source_dir/data/m51.fits"
fi
args=("$@")
# A relative image name stays valid in the work directory.
last=$((${#args[@]} - 1))
args[$last]=$(readlink -f "${args[$last]}")

work=$(mktemp -d)
busy_pids=()
cleanup() {
  for pid in "${busy_pids[@]}"; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

deadline=$(($(date +%s) + limit))
remaining() { echo $((deadline - $(date +%s))); }

# Each spinner ends by itself at the bound, even if this script is killed.
for ((k = 0; k < busy; k++)); do
  timeout "$limit" sh -c 'while :; do :; done' &
  busy_pids+=($!)
done
sleep 1

# Wall seconds of one run with the given thread count; "timeout" past the bound.
timed_run() {
  local threads=$1 left start end
  left=$(remaining)
  if [ "$left" -le 0 ]; then echo timeout; return; fi
  start=$(date +%s.%N)
  (cd "$work" && OMP_NUM_THREADS=$threads timeout "$left" "$program" "${args[@]:0:$last}" \
     "${args[$last]}" result >/dev/null 2>&1)
  local status=$?
  end=$(date +%s.%N)
  if [ $status -eq 124 ]; then echo timeout; return; fi
  if [ $status -ne 0 ]; then echo "failed($status)"; return; fi
  echo "$start $end" | awk '{printf "%.3f", $2 - $1}'
}

median() { printf '%s\n' "$@" | sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

all=$(nproc)
echo "busy processes: $busy, cores: $all, runs: $runs, options: ${args[*]}"
many=()
one=()
for ((r = 0; r < runs; r++)); do
  t_many=$(timed_run "$all")
  t_one=$(timed_run 1)
  echo "run $((r + 1)): $all threads ${t_many} s, 1 thread ${t_one} s"
  case "$t_many$t_one" in *[a-z]*) echo "stopped: a run did not finish" >&2; exit 1 ;; esac
  many+=("$t_many")
  one+=("$t_one")
done
m_many=$(median "${many[@]}")
m_one=$(median "${one[@]}")
echo "median: $all threads $m_many s, 1 thread $m_one s, ratio $(echo "$m_many $m_one" | awk '{printf "%.2f", $1 / $2}')"

#!/usr/bin/env bash
# Peak resident memory of qz_mca with swap-file memory against the plain
# heap: the default dictionary, -i 2, on m51 resized to 1024, 1448 and
# 2048 pixels a side (by ImageMagick), each run plain, with -Z 4000:dir (a
# RAM limit so high that nothing goes to swap) and with -z (4 MB of RAM,
# the rest in swap files). A swap run should take no more RAM than the
# plain one: the script fails when -Z 4000 takes more than 10% above the
# plain peak at 1448, or -z more than 20% above it at 1024. Then the largest
# square image whose -z run fits the 1024 MB of swap, found by bisection.
#
#   bench/swap_memory.sh [-t THREADS] QZ_MCA
#
# THREADS for OMP_NUM_THREADS (default 4). Peaks are read by GNU time.
set -u

threads=4
while getopts "t:" opt; do
  case $opt in
    t) threads=$OPTARG ;;
    *) echo "usage: $0 [-t THREADS] QZ_MCA" >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
if [ $# -ne 1 ]; then
  echo "usage: $0 [-t THREADS] QZ_MCA" >&2
  exit 2
fi
if [ ! -x /usr/bin/time ] || ! command -v convert >/dev/null; then
  echo "needs GNU time (/usr/bin/time) and ImageMagick's convert" >&2
  exit 2
fi
program=$(readlink -f "$1")
m51=$(cd "$(dirname "$0")/.." && pwd)/data/m51.fits
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/swap"
unset ZUB_VM_SIZE ZUB_VM_DIR

image() {
  local side=$1
  [ -f "$work/m51_$side.fits" ] ||
    convert "$m51" -resize "${side}x${side}!" -depth 16 "$work/m51_$side.fits"
  echo "$work/m51_$side.fits"
}

# Peak resident kilobytes of one run and its status: side, then options.
peak_run() {
  local side=$1 input
  shift
  input=$(image "$side")
  rm -f "$work"/result*
  (cd "$work" && OMP_NUM_THREADS=$threads /usr/bin/time -f "%M %x" -o "$work/time.txt" \
    "$program" "$@" -i 2 "$input" result >/dev/null 2>&1)
  cat "$work/time.txt" | tail -1
}

failed=0
# side, option, largest ratio to the plain peak (empty: reported only)
compare() {
  local side=$1 option=$2 bound=$3 plain swap
  plain=$(peak_run "$side")
  # shellcheck disable=SC2086
  swap=$(peak_run "$side" $option)
  set -- $plain $swap
  if [ "$2" != 0 ]; then
    echo "  $side x $side: plain run failed (status $2)"
    failed=1
    return
  fi
  if [ "$4" != 0 ]; then
    echo "  $side x $side: plain $(($1 / 1024)) MB, $option ended with status $4"
    return
  fi
  awk -v side="$side" -v option="$option" -v plain="$1" -v swap="$3" -v bound="$bound" 'BEGIN {
    ratio = swap / plain
    printf "  %d x %d: plain %.0f MB, %s %.0f MB, ratio %.3f", side, side, plain / 1024, option, swap / 1024, ratio
    if (bound != "") printf " (bound %.2f: %s)", bound, ratio <= bound ? "ok" : "FAILED"
    printf "\n"
    exit (bound != "" && ratio > bound)
  }' || failed=1
}

echo "peak resident memory, default dictionary, -i 2, OMP_NUM_THREADS=$threads"
compare 1448 "-Z 4000:swap" 1.10
compare 1024 "-z" 1.20
compare 2048 "-Z 4000:swap" ""
compare 1448 "-z" ""
compare 2048 "-z" ""

# The -z status of a side: 0 when it fits, 48 on "swap space overflow".
z_status() {
  local result
  result=$(peak_run "$1" -z)
  echo "${result#* }"
}
lo=1024
hi=2048
if [ "$(z_status $lo)" = 0 ] && [ "$(z_status $hi)" = 48 ]; then
  while [ $((hi - lo)) -gt 1 ]; do
    mid=$(((lo + hi) / 2))
    if [ "$(z_status $mid)" = 0 ]; then lo=$mid; else hi=$mid; fi
  done
  echo "  -z fits up to $lo x $lo; $hi x $hi ends with swap space overflow (status 48)"
else
  echo "  -z: 1024 x 1024 does not fit, or 2048 x 2048 does"
fi
exit $failed

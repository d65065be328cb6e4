#!/usr/bin/env bash
# What one header card costs a run: callgrind counts the instructions of
# qz_mca on a 32 x 32 image whose header holds CARDS cards beside its
# structure, and on the same image with none; the difference over CARDS is
# the cost of a card through the read and the results' headers. A count of
# instructions, not a time: it holds on a busy machine, and two builds can
# be set side by side (give each its program).
#
#   bench/header_cards.sh [-c CARDS] [-o "OPTIONS"] QZ_MCA...
#
# CARDS (default 4000) cards of integer, real and string values with
# comments, each keyword once; OPTIONS (default "-t 1 -n 2 -i 1": a read and
# three results, the a trous component, the residual and the sum). Needs
# valgrind.
set -u

cards=4000
options="-t 1 -n 2 -i 1"
while getopts "c:o:" opt; do
  case $opt in
    c) cards=$OPTARG ;;
    o) options=$OPTARG ;;
    *) echo "usage: $0 [-c CARDS] [-o OPTIONS] QZ_MCA..." >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
if [ $# -lt 1 ]; then
  echo "usage: $0 [-c CARDS] [-o OPTIONS] QZ_MCA..." >&2
  exit 2
fi
if ! command -v valgrind >/dev/null; then
  echo "needs valgrind" >&2
  exit 2
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A 32 x 32 BITPIX 16 image of `count` cards beside its structure: the
# cards, padded to whole blocks, then a ramp of pixels, big-endian, padded.
make_image() {
  local count=$1 file=$2
  LC_ALL=C awk -v count="$count" 'BEGIN {
    card("SIMPLE  =                    T / conforms")
    card("BITPIX  =                   16")
    card("NAXIS   =                    2")
    card("NAXIS1  =                   32")
    card("NAXIS2  =                   32")
    for (k = 0; k < count; k++) {
      key = sprintf("K%07d", k)
      if (k % 3 == 0) card(sprintf("%-8s= %20d / an integer", key, k * 7))
      else if (k % 3 == 1) card(sprintf("%-8s= %20.9E / a real", key, k / 7))
      else card(sprintf("%-8s= %-20s / a string", key, sprintf("'\''v%d'\''", k)))
    }
    card("END")
    while (n % 36) card("")
    for (p = 0; p < 1024; p++) printf "%c%c", int(p * 37 % 4096 / 256), (p * 37) % 256
    for (p = 2048; p < 2880; p++) printf "%c", 0
  }
  function card(text) { printf "%-80s", text; n++ }' >"$file"
}

# Instructions of one run of a program on an image; nothing when the run
# failed or wrote no result.
instructions() {
  local program=$1 image=$2
  rm -f "$work"/out*
  # shellcheck disable=SC2086
  (cd "$work" && valgrind --tool=callgrind --error-exitcode=99 --callgrind-out-file=/dev/null "$program" $options \
    "$image" out >/dev/null 2>"$work/callgrind.txt") || return
  [ -f "$work/out.fits" ] && awk '/Collected :/ { print $NF }' "$work/callgrind.txt"
}

make_image 0 "$work/bare.fits"
make_image "$cards" "$work/cards.fits"
echo "instructions per header card, $cards cards, qz_mca $options"
for program in "$@"; do
  program=$(readlink -f "$program")
  bare=$(instructions "$program" "$work/bare.fits")
  full=$(instructions "$program" "$work/cards.fits")
  if [ -z "$bare" ] || [ -z "$full" ]; then
    echo "  $program: a run failed or callgrind gave no count" >&2
    exit 1
  fi
  awk -v p="$program" -v b="$bare" -v f="$full" -v n="$cards" \
    'BEGIN { printf "  %s: %.0f (%d without cards, %d with)\n", p, (f - b) / n, b, f }'
done

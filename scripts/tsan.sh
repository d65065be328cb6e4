#!/usr/bin/env bash
# Thread check: builds the project with ThreadSanitizer in build-tsan (Clang,
# LLVM's OpenMP runtime and Archer, its race checker), runs every test there,
# then runs qz_mca on a crop of data/m51.fits over every base and the default
# dictionary, without and with the swap-file memory (-z, -Z size:dir), on 4
# and 8 threads. Fails when a test fails, the sanitizer reports anything, or
# the tests leave OpenMP registration files in /dev/shm.
# Installs what is missing first. JOBS (default: the core count) sets the
# build and test parallelism.
set -euo pipefail
cd "$(dirname "$0")/.."

# Clang, its sanitizer runtimes, and LLVM's OpenMP runtime with Archer.
bash scripts/setup.sh clang libclang-rt-14-dev libomp-14-dev

jobs=${JOBS:-$(nproc)}
# The settings the tests run with (QZ_TSAN_OPTIONS in CMakeLists.txt): LLVM's
# OpenMP runtime is not instrumented, Archer orders its threads for the
# sanitizer and asks for the first; a report ends the program with status 66.
export TSAN_OPTIONS="ignore_noninstrumented_modules=1:allocator_may_return_null=1:exitcode=66"
CC=clang CXX=clang++ cmake -S . -B build-tsan -G Ninja -DQZ_TSAN=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-tsan -j "$jobs"

# LLVM's OpenMP runtime registers each process that starts it in a file of
# /dev/shm named after its id, which only the runtime's own exit handler
# removes: a test whose forked children end otherwise leaves theirs. Files of
# processes still running (other work on this machine) are not the tests'.
stale_registrations() {
  local file pid
  for file in /dev/shm/__KMP_REGISTERED_LIB_*; do
    [ -e "$file" ] || continue
    pid=${file#/dev/shm/__KMP_REGISTERED_LIB_}
    pid=${pid%%_*}
    kill -0 "$pid" 2> /dev/null || echo "$file"
  done | sort
}

failed=()
echo "+ tests"
stale_before=$(stale_registrations)
ctest --test-dir build-tsan --output-on-failure -j "$jobs" || failed+=("tests")
left=$(comm -13 <(echo "$stale_before") <(stale_registrations))
if [ -n "$left" ]; then
  echo "FAILED: the tests left $(wc -l <<< "$left") OpenMP registration files in /dev/shm, as:"
  head -3 <<< "$left"
  failed+=("OpenMP registrations left")
  xargs rm -f <<< "$left"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The central 256 x 256 pixels of m51 (16-bit, one header block of 512 x 512),
# copied line by line into a FITS file of that size.
side=256 full=512
first=$(((full - side) / 2))
head -c 2880 data/m51.fits | sed "s/\(NAXIS[12]  = *\)$full/\1$side/g" > "$work/crop.fits"
for ((line = first; line < first + side; line++)); do
  dd if=data/m51.fits iflag=skip_bytes,count_bytes skip=$((2880 + (line * full + first) * 2)) \
     count=$((side * 2)) bs=$((side * 2)) status=none
done >> "$work/crop.fits"
head -c $(((2880 - side * side * 2 % 2880) % 2880)) /dev/zero >> "$work/crop.fits"

echo "+ qz_mca sweep"
program=$PWD/build-tsan/qz_mca
image=$PWD/data/m51.fits
mkdir "$work/swap"
runs=0
# check_run NAME THREADS ARGS...: one run in the work folder, which must end
# well with no sanitizer report and leave no swap file.
check_run() {
  local name=$1 threads=$2
  shift 2
  if ! (cd "$work" && OMP_NUM_THREADS=$threads "$program" "$@" > "$work/log" 2>&1) ||
     grep -q "ThreadSanitizer" "$work/log" || [ -n "$(ls -A "$work/swap")" ] ||
     compgen -G "$work/vmswap_*" > /dev/null; then
    echo "FAILED: qz_mca $name, $threads threads"
    cat "$work/log"
    failed+=("qz_mca $name, $threads threads")
  fi
  runs=$((runs + 1))
  rm -f "$work"/result*
}
for threads in 4 8; do
  for base in 1 2 3 4 5 6 7 8 9 default; do
    options=()
    [ "$base" = default ] || options=(-t "$base")
    # The ridgelet and the multiscale local DCT bases alone take a first threshold.
    case $base in 3 | 9) options+=(-S 10) ;; esac
    check_run "-t $base" "$threads" "${options[@]}" -i 3 -g 0 crop.fits result
    check_run "-t $base -z" "$threads" "${options[@]}" -z -i 3 -g 0 crop.fits result
    check_run "-t $base -Z" "$threads" "${options[@]}" -Z "1:$work/swap" -i 3 -g 0 crop.fits result
  done
done
# On the whole image, ten curvelet scales take their swap buffers inside the
# ridgelet workers, several threads at once.
check_run "-t 4 -n 10 -z on m51" 8 -t 4 -n 10 -i 1 -z "$image" result
check_run "-t 4 -n 10 -Z on m51" 8 -t 4 -n 10 -i 1 -Z "1:$work/swap" "$image" result
echo "$runs qz_mca runs"

if [ ${#failed[@]} -gt 0 ]; then
  printf 'Thread check failed: %s\n' "${failed[@]}"
  exit 1
fi
echo "Thread check passed: every test and $runs qz_mca runs, no report"

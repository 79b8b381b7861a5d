#!/usr/bin/env bash
# A whole backup job beside the everyday tools, on volumes of mixed content (random,
# zero and text thirds, 2 GiB each by default):
#   job_1     a backup job of one instance with one volume (simulator, loop devices,
#             temporary snapshots, zstd level 1 into a pool), run by backup_job_bench
#   cat_1     cat DEVICE > FILE, DEVICE a loop device over the same bytes
#   catsync_1 the same copy made durable (fsync of the copy and its directory), as the
#             upload phase publishes its image
#   zstd_1    zstd -1 -T1 < DEVICE > FILE
#   job_4     the same job with four volumes and "parallel_disks_per_vm" 4
#   cat_4     four such cats at once, each from a loop device of its own
# For the jobs the upload phase (first pool file opened to last image published) is
# timed apart from the cloud's waits before and after it (column "whole job"). Each
# loop device's buffers are flushed before it is read; the source files stay in the page
# cache, as a freshly made temporary snapshot does. One untimed round warms up, then the
# commands run in interleaved rounds; the goals are judged on the medians.
#
# Needs root (loop devices, a private mount namespace) and about 12 times the volume
# size free in BACKUP_BENCH_DIR; skipped with a message otherwise.
# Environment: BUILD_DIR (default build/default, configured with -DQUILLON3_BENCH=ON),
# BACKUP_BENCH_DIR (/var/tmp), BACKUP_BENCH_ROUNDS (3), BACKUP_BENCH_VERBOSE.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build/default}
TOOL=$BUILD_DIR/bench/backup_job_bench
MAKER=$BUILD_DIR/bench/pool_io_bench
ROUNDS=${BACKUP_BENCH_ROUNDS:-3}
BASE=${BACKUP_BENCH_DIR:-/var/tmp}
MIB=2048  # the simulator's volumes are whole GiB; the job backs up 2 GiB each
export QUILLON3_SOURCE_DIR=$PWD

for t in "$TOOL" "$MAKER"; do
  if [ ! -x "$t" ]; then
    echo "backup_bench: $t is missing (configure with -DQUILLON3_BENCH=ON)" >&2
    exit 1
  fi
done
if [ "$(id -u)" -ne 0 ] || ! command -v losetup > /dev/null; then
  echo "backup_bench: skipped, needs root and losetup"
  exit 0
fi
need_kib=$((MIB * 1024 * 12))
free_kib=$(df -Pk "$BASE" | awk 'NR == 2 {print $4}')
if [ "$free_kib" -lt "$need_kib" ]; then
  echo "backup_bench: skipped, $BASE has $((free_kib / 1024)) MiB free, needs $((need_kib / 1024))"
  exit 0
fi

WORK=$(mktemp -d "$BASE/backup_bench.XXXXXX")
LOOPS=()
cleanup() {
  for l in "${LOOPS[@]}"; do losetup -d "$l" 2> /dev/null || true; done
  rm -rf "$WORK"
}
trap cleanup EXIT
"$MAKER" make-mixed "$WORK/src0" "$MIB"
for i in 1 2 3; do cp "$WORK/src0" "$WORK/src$i"; done
for i in 0 1 2 3; do
  LOOPS+=("$(losetup -f --show -r "$WORK/src$i")")
  cat "$WORK/src$i" > /dev/null
done

declare -A times
rss4=?
# timed NAME CMD...: one run timed from outside; its seconds go to times[NAME].
timed() {
  local name=$1
  shift
  local start end
  start=$(date +%s%N)
  "$@"
  end=$(date +%s%N)
  times[$name]+="$(awk -v a="$start" -v b="$end" 'BEGIN {printf "%.3f", (b - a) / 1e9}') "
}
# job VOLUMES: one job run; its upload phase and whole time go to times[job_N] and
# times[whole_N].
job() {
  local n=$1 out
  rm -rf "$WORK/job"
  sync
  out=$("$TOOL" "$WORK/job" "$WORK/src0" "$n" "$n")
  [ -z "${BACKUP_BENCH_VERBOSE:-}" ] || echo "job_$n: $out" >&2
  if [[ ! $out =~ ok=1 ]]; then
    echo "backup_bench: the backup job failed: $out" >&2
    exit 1
  fi
  [[ $out =~ upload_seconds=([0-9.]+) ]] && times[job_$n]+="${BASH_REMATCH[1]} "
  [[ $out =~ total_seconds=([0-9.]+) ]] && times[whole_$n]+="${BASH_REMATCH[1]} "
  [[ $out =~ peak_rss_kib=([0-9]+) ]] && [ "$n" -eq 4 ] && rss4=${BASH_REMATCH[1]}
  rm -rf "$WORK/job"
}
flush() { for l in "$@"; do blockdev --flushbufs "$l"; done; sync; }
cats() {
  local i=0
  for l in "$@"; do
    cat "$l" > "$WORK/copy$i" &
    i=$((i + 1))
  done
  wait
}

have_zstd=0
command -v zstd > /dev/null && have_zstd=1
for ((r = 0; r <= ROUNDS; r++)); do
  ((r == 1)) && times=()  # round 0 only warms up
  job 1
  flush "${LOOPS[0]}"
  timed cat_1 cats "${LOOPS[0]}"
  rm -f "$WORK"/copy*
  flush "${LOOPS[0]}"
  timed catsync_1 sh -c "cat '${LOOPS[0]}' > '$WORK/copy0' && sync '$WORK/copy0' '$WORK'"
  rm -f "$WORK"/copy*
  if ((have_zstd)); then
    flush "${LOOPS[0]}"
    timed zstd_1 sh -c "zstd -1 -T1 -q < '${LOOPS[0]}' > '$WORK/copy.zst'"
    rm -f "$WORK/copy.zst"
  fi
  job 4
  flush "${LOOPS[@]}"
  timed cat_4 cats "${LOOPS[@]}"
  rm -f "$WORK"/copy*
done

median() { tr ' ' '\n' <<< "$1" | grep -v '^$' | sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
declare -A med
for k in "${!times[@]}"; do med[$k]=$(median "${times[$k]}"); done
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }
verdict() { awk -v r="$1" -v g="$2" 'BEGIN {print (r <= g) ? "met" : "MISSED"}'; }

echo
echo "Backup job, volumes of ${MIB} MiB mixed content (random, zero, text thirds), $ROUNDS rounds"
printf '%-9s %8s   %s\n' "run" "median" "all runs (s)"
for k in job_1 whole_1 cat_1 catsync_1 zstd_1 job_4 whole_4 cat_4; do
  [ -n "${med[$k]:-}" ] || continue
  printf '%-9s %8s   %s\n' "$k" "${med[$k]}" "${times[$k]}"
done
echo "(job_N: upload phase of the job with N volumes; whole_N: the whole job, cloud waits"
echo " and simulator copies included)"
echo "peak RSS of the job with four streams: $rss4 KiB"
echo
printf '%-36s %6s %6s %8s\n' "goal (medians)" "ratio" "limit" "verdict"
goal() {
  local r
  r=$(ratio "${med[$2]}" "${med[$3]}")
  printf '%-36s %6s %6s %8s\n' "$1" "$r" "$4" "$(verdict "$r" "$4")"
}
goal "upload, 1 volume / cat" job_1 cat_1 1.15
goal "upload, 1 volume / cat + sync" job_1 catsync_1 1.15
goal "upload, 4 volumes / 4 parallel cats" job_4 cat_4 1.20
printf '%-36s %6s %6s %8s\n' "peak RSS, 4 streams (MiB)" "$((rss4 / 1024))" 64 \
  "$( [ "$rss4" != "?" ] && [ $((rss4 / 1024)) -le 64 ] && echo met || echo MISSED)"

#!/usr/bin/env bash
# The write phase of a volume restore beside the everyday tools, on one 2 GiB volume of
# mixed content (random, zero and text thirds): the pool image (zstd) written onto a
# device through the restore's Volume_Reader, from its first read to the device synced,
# beside `zstd -d -c IMAGE.zst > DEVICE` and `cat FILE > DEVICE` of the same bytes. The
# device is a loop device over a sparse file when run as root with losetup, else a
# plain file. The restore syncs the device, so each tool is shown both as is and with a
# sync of the device afterwards ("+ sync"). Every command runs in several interleaved
# rounds after an untimed warm-up; the table shows each one's best and median seconds,
# the ratios of the medians to cat and to cat + sync, and the restore's peak resident
# memory. The goals are judged on the medians.
#
# Goals: restore <= 1.15 x cat FILE > DEVICE; restore peak RSS <= 64 MiB.
#
# Environment: BUILD_DIR (default build/default, configured with -DQUILLON3_BENCH=ON),
# RESTORE_BENCH_DIR (where to work, default /var/tmp; needs about three times the size),
# RESTORE_BENCH_MIB (2048), RESTORE_BENCH_ROUNDS (3).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build/default}
POOL_TOOL=$BUILD_DIR/bench/pool_io_bench
TOOL=$BUILD_DIR/bench/restore_bench
MIB=${RESTORE_BENCH_MIB:-2048}
ROUNDS=${RESTORE_BENCH_ROUNDS:-3}
BASE=${RESTORE_BENCH_DIR:-/var/tmp}

for t in "$POOL_TOOL" "$TOOL"; do
  if [ ! -x "$t" ]; then
    echo "restore_bench: $t is missing (configure with -DQUILLON3_BENCH=ON)" >&2
    exit 1
  fi
done
command -v zstd >/dev/null || { echo "restore_bench: skipped, no zstd"; exit 0; }
need_kib=$((MIB * 1024 * 3))
free_kib=$(df -Pk "$BASE" | awk 'NR == 2 {print $4}')
if [ "$free_kib" -lt "$need_kib" ]; then
  echo "restore_bench: skipped, $BASE has $((free_kib / 1024)) MiB free, needs $((need_kib / 1024))"
  exit 0
fi

WORK=$(mktemp -d "$BASE/restore_bench.XXXXXX")
LOOP=""
cleanup() {
  if [ -n "$LOOP" ]; then losetup -d "$LOOP" || true; fi
  rm -rf "$WORK"
}
trap cleanup EXIT
mkdir -p "$WORK/pool"
SRC=$WORK/src.bin
"$POOL_TOOL" make-mixed "$SRC" "$MIB"
"$POOL_TOOL" register "$WORK/pool"
"$POOL_TOOL" write "$SRC" "$WORK/pool" img zstd >/dev/null
zstd -q -1 -T0 -c "$SRC" > "$SRC.zst"

truncate -s "${MIB}M" "$WORK/backing"
if [ "$(id -u)" = 0 ] && command -v losetup >/dev/null && LOOP=$(losetup -f --show "$WORK/backing" 2>/dev/null); then
  DEV=$LOOP
else
  LOOP=""
  DEV=$WORK/backing
fi

declare -A T
RSS=0
now() { date +%s.%N; }
run() {  # name, command...
  local name=$1; shift
  sync
  local s; s=$(now)
  "$@"
  T[$name]+="$(echo "$(now) - $s" | bc) "
}
restore_once() {
  local out; out=$("$TOOL" "$WORK/pool" img "$DEV")
  local rss; rss=$(echo "$out" | awk '{print $2}')
  [ "$rss" -gt "$RSS" ] && RSS=$rss
  return 0
}
cat_dev() { cat "$SRC" > "$DEV"; }
cat_sync() { cat "$SRC" > "$DEV"; sync "$DEV"; }
zstd_dev() { zstd -q -d -c "$SRC.zst" > "$DEV"; }
zstd_sync() { zstd -q -d -c "$SRC.zst" > "$DEV"; sync "$DEV"; }

restore_once; cat_dev; zstd_dev  # warm-up
for _ in $(seq "$ROUNDS"); do
  run restore restore_once
  run cat cat_dev
  run cat_sync cat_sync
  run zstd zstd_dev
  run zstd_sync zstd_sync
done
cmp -s "$SRC" <(head -c "$((MIB << 20))" "$DEV") || { echo "restore_bench: device differs" >&2; exit 1; }

best() { tr ' ' '\n' <<<"${T[$1]}" | grep -v '^$' | sort -g | head -1; }
median() { tr ' ' '\n' <<<"${T[$1]}" | grep -v '^$' | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
CAT=$(median cat)
CAT_SYNC=$(median cat_sync)
echo "restore of $MIB MiB onto $([ -n "$LOOP" ] && echo "loop device $LOOP" || echo "a file"), $ROUNDS rounds"
printf "%-26s %8s %8s %8s %12s\n" command best median "x cat" "x cat+sync"
for n in restore cat cat_sync zstd zstd_sync; do
  label=$n
  case $n in
    restore) label="restore (Volume_Reader)";;
    cat) label="cat FILE > DEVICE";;
    cat_sync) label="cat FILE > DEVICE + sync";;
    zstd) label="zstd -d -c > DEVICE";;
    zstd_sync) label="zstd -d -c > DEVICE + sync";;
  esac
  m=$(median $n)
  printf "%-26s %8.2f %8.2f %8.2f %12.2f\n" "$label" "$(best $n)" "$m" "$(echo "$m / $CAT" | bc -l)" \
    "$(echo "$m / $CAT_SYNC" | bc -l)"
done
echo "(ratios of medians; the restore syncs the device, so cat + sync is its like)"
echo "restore peak RSS: $((RSS / 1024)) MiB"
R=$(echo "$(median restore) / $CAT" | bc -l)
RS=$(echo "$(median restore) / $CAT_SYNC" | bc -l)
verdict() { echo "$1 <= 1.15" | bc | sed 's/1/met/;s/0/missed/'; }
echo "goals: restore <= 1.15 x cat: $(verdict "$R"); (x cat + sync: $(verdict "$RS")); peak RSS <= 64 MiB: $([ "$RSS" -le $((64 * 1024)) ] && echo met || echo missed)"

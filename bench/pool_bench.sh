#!/usr/bin/env bash
# Storage-pool throughput beside the everyday tools, on one file of mixed content
# (random, zero and text thirds, 2 GiB by default) held in the page cache:
#   cat FILE > COPY, dd bs=128K (a plain read/write loop), zstd -1 -T1,
#   a pool image written with zstd (level 1) and without compression, and the zstd
#   image read back onto a file (as a volume restore does).
# One untimed round warms the page cache, then every command runs in several
# interleaved rounds. Before every run the previous output is removed, the file system
# synced and the machine left to settle for a few seconds: a virtual machine may hand
# freed memory back to its host a moment after a large file is deleted, and a command
# that fills the page cache in that moment pays several times its own time; settling
# puts every command in the same state. The goals are judged on each command's best
# run, the one least disturbed by the rest of the machine; medians are shown beside. The pool writes include their sync to
# disk (a pool file is durable once closed); the tools' copies are not synced.
#
# Environment: BUILD_DIR (default build/default), POOL_BENCH_DIR (where to work, default
# /var/tmp; needs about three times the file size), POOL_BENCH_MIB (2048),
# POOL_BENCH_ROUNDS (3), POOL_BENCH_SETTLE (seconds before each run, 3).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build/default}
TOOL=$BUILD_DIR/bench/pool_io_bench
MIB=${POOL_BENCH_MIB:-2048}
ROUNDS=${POOL_BENCH_ROUNDS:-3}
BASE=${POOL_BENCH_DIR:-/var/tmp}

if [ ! -x "$TOOL" ]; then
  echo "pool_bench: $TOOL is missing (configure with -DQUILLON3_BENCH=ON)" >&2
  exit 1
fi
need_kib=$((MIB * 1024 * 3))
free_kib=$(df -Pk "$BASE" | awk 'NR == 2 {print $4}')
if [ "$free_kib" -lt "$need_kib" ]; then
  echo "pool_bench: skipped, $BASE has $((free_kib / 1024)) MiB free, needs $((need_kib / 1024))"
  exit 0
fi

WORK=$(mktemp -d "$BASE/pool_bench.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
mkdir -p "$WORK/pool"
SRC=$WORK/src.bin
"$TOOL" make-mixed "$SRC" "$MIB"
cat "$SRC" > /dev/null  # into the page cache

declare -A times
declare -A rss
# run NAME OUTPUT CMD...: one timed run; its seconds go to times[NAME].
run() {
  local name=$1 out=$2
  shift 2
  rm -f "$out"
  sync
  sleep "${POOL_BENCH_SETTLE:-3}"
  local start end log
  start=$(date +%s%N)
  log=$("$@")
  end=$(date +%s%N)
  times[$name]+="$(awk -v a="$start" -v b="$end" 'BEGIN {printf "%.3f", (b - a) / 1e9}') "
  if [[ $log =~ peak_rss_kib=([0-9]+) ]]; then rss[$name]=${BASH_REMATCH[1]}; fi
}

have_zstd=0
command -v zstd > /dev/null && have_zstd=1
for ((r = 0; r <= ROUNDS; r++)); do
  if ((r == 1)); then  # round 0 only warms up
    times=()
    rss=()
  fi
  run cat "$WORK/copy" sh -c "cat '$SRC' > '$WORK/copy'"
  run dd "$WORK/copy" dd if="$SRC" of="$WORK/copy" bs=128K status=none
  if ((have_zstd)); then
    run zstd "$WORK/copy" sh -c "zstd -1 -T1 -q < '$SRC' > '$WORK/copy'"
  fi
  rm -f "$WORK/copy"
  run pool_none "$WORK/pool/none.img" "$TOOL" write "$SRC" "$WORK/pool" none.img none
  rm -f "$WORK/pool/none.img"
  run pool_zstd "$WORK/pool/zstd.img" "$TOOL" write "$SRC" "$WORK/pool" zstd.img zstd:1
  run pool_read "$WORK/restored" "$TOOL" read "$WORK/pool" zstd.img "$WORK/restored"
  if ! cmp -s "$SRC" "$WORK/restored"; then
    echo "pool_bench: the restored file differs from the original" >&2
    exit 1
  fi
  rm -f "$WORK/restored"
done
stored_zstd=$(stat -c %s "$WORK/pool/zstd.img")

best() { tr ' ' '\n' <<< "$1" | grep -v '^$' | sort -n | head -1; }
median() { tr ' ' '\n' <<< "$1" | grep -v '^$' | sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
declare -A med low
for k in "${!times[@]}"; do
  med[$k]=$(median "${times[$k]}")
  low[$k]=$(best "${times[$k]}")
done
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }
verdict() { awk -v r="$1" -v g="$2" 'BEGIN {print (r <= g) ? "met" : "MISSED"}'; }

echo
echo "Storage pool, ${MIB} MiB of mixed content (random, zero, text thirds), $ROUNDS rounds"
printf '%-12s %8s %8s   %s\n' "run" "best s" "median" "all runs"
for k in cat dd zstd pool_none pool_zstd pool_read; do
  [ -n "${med[$k]:-}" ] || continue
  printf '%-12s %8s %8s   %s\n' "$k" "${low[$k]}" "${med[$k]}" "${times[$k]}"
done
echo "zstd image: $stored_zstd bytes of $((MIB << 20))"
echo "peak RSS (KiB): write none ${rss[pool_none]:-?}, write zstd ${rss[pool_zstd]:-?}, read ${rss[pool_read]:-?}"
echo
printf '%-28s %6s %6s %8s %8s\n' "goal (best runs)" "ratio" "limit" "verdict" "medians"
goal() {
  local label=$1 a=$2 b=$3 limit=$4
  local r
  r=$(ratio "${low[$a]}" "${low[$b]}")
  printf '%-28s %6s %6s %8s %8s\n' "$label" "$r" "$limit" "$(verdict "$r" "$limit")" \
    "$(ratio "${med[$a]}" "${med[$b]}")"
}
goal "write zstd / cat" pool_zstd cat 1.10
((have_zstd)) && goal "write zstd / zstd -1 -T1" pool_zstd zstd 0.50
goal "write none / cat" pool_none cat 1.05
goal "read back / cat" pool_read cat 1.10
goal "write zstd / dd bs=128K" pool_zstd dd 1.10
goal "read back / dd bs=128K" pool_read dd 1.10

#!/usr/bin/env bash
# Storage-pool throughput beside the everyday tools, on one file of mixed content
# (random, zero and text thirds, 2 GiB by default) held in the page cache:
#   cat FILE > COPY              the baseline the goals name (not synced)
#   cat FILE > COPY + sync       the same copy made durable: fsync of the copy and of its
#                                directory, as a pool write does before it counts
#   dd bs=128K                   a plain read/write loop
#   zstd -1 -T1                  single-threaded compression to a file
#   a pool image written with zstd (level 1) and without compression, and a zstd image
#   read back onto a new file (as a volume restore does).
# The pool writes include their publication (flush, fsync, rename, directory sync); the
# column "close" shows how much of their time that took. The read back is not synced,
# like cat's copy and like a restore's own writes.
#
# One untimed round warms the page cache, then every command runs in several
# interleaved rounds. Every run starts from the same state: its output removed, a
# ballast file as large as the source written and removed, the file system synced. On
# a virtual machine the cost of filling the page cache depends on how recently the
# memory it takes was freed: memory freed more than a moment ago may have been handed
# back to the host, and a command that fills the page cache from it pays several times
# its own time. Without the ballast, a command that follows another writer of a file
# as large (cat after cat) would run on warm memory and one that does not (the read
# back after a pool write) on cold memory. POOL_BENCH_SETTLE=3 waits that long after
# the ballast instead, so that every command runs on cold memory. The reads restore a
# reference image written once before the rounds; the last zstd image written is
# checked at the end by reading it back. Each command is timed from the outside,
# process start included. The goals are judged on each command's best run, the one
# least disturbed by the rest of the machine; the ratios of the medians are shown
# beside.
#
# Environment: BUILD_DIR (default build/default), POOL_BENCH_DIR (where to work, default
# /var/tmp; needs about five times the file size), POOL_BENCH_MIB (2048),
# POOL_BENCH_ROUNDS (5), POOL_BENCH_SETTLE (seconds to wait before each run, 0),
# POOL_BENCH_OTHER (another build's pool_io_bench, e.g. of an earlier commit: its
# writes and read run in the same rounds, as other_none, other_zstd and other_read),
# POOL_BENCH_VERBOSE (non-empty: every run's time and tool output on stderr).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build/default}
TOOL=$BUILD_DIR/bench/pool_io_bench
MIB=${POOL_BENCH_MIB:-2048}
ROUNDS=${POOL_BENCH_ROUNDS:-5}
BASE=${POOL_BENCH_DIR:-/var/tmp}

if [ ! -x "$TOOL" ]; then
  echo "pool_bench: $TOOL is missing (configure with -DQUILLON3_BENCH=ON)" >&2
  exit 1
fi
need_kib=$((MIB * 1024 * 5))
free_kib=$(df -Pk "$BASE" | awk 'NR == 2 {print $4}')
if [ "$free_kib" -lt "$need_kib" ]; then
  echo "pool_bench: skipped, $BASE has $((free_kib / 1024)) MiB free, needs $((need_kib / 1024))"
  exit 0
fi

WORK=$(mktemp -d "$BASE/pool_bench.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
mkdir -p "$WORK/pool" "$WORK/copies"
SRC=$WORK/src.bin
COPY=$WORK/copies/copy
"$TOOL" make-mixed "$SRC" "$MIB"
"$TOOL" register "$WORK/pool"
"$TOOL" write "$SRC" "$WORK/pool" ref.img zstd:1 > /dev/null
OTHER=${POOL_BENCH_OTHER:-}
if [ -n "$OTHER" ]; then
  mkdir -p "$WORK/other"
  "$OTHER" register "$WORK/other"
  "$OTHER" write "$SRC" "$WORK/other" ref.img zstd:1 > /dev/null
fi
cat "$SRC" > /dev/null  # into the page cache

declare -A times
declare -A rss
declare -A close_times
# run NAME OUTPUT CMD...: one timed run; its seconds go to times[NAME].
run() {
  local name=$1 out=$2
  shift 2
  rm -f "$out"
  head -c "${MIB}M" /dev/zero > "$WORK/ballast"
  rm -f "$WORK/ballast"
  sync
  sleep "${POOL_BENCH_SETTLE:-0}"
  local start end log
  start=$(date +%s%N)
  log=$("$@")
  end=$(date +%s%N)
  times[$name]+="$(awk -v a="$start" -v b="$end" 'BEGIN {printf "%.3f", (b - a) / 1e9}') "
  [ -z "${POOL_BENCH_VERBOSE:-}" ] || echo "$name: $(awk -v a="$start" -v b="$end" 'BEGIN {printf "%.3f", (b - a) / 1e9}') s $log" >&2
  if [[ $log =~ peak_rss_kib=([0-9]+) ]]; then rss[$name]=${BASH_REMATCH[1]}; fi
  if [[ $log =~ close_seconds=([0-9.]+) ]]; then close_times[$name]+="${BASH_REMATCH[1]} "; fi
}

have_zstd=0
command -v zstd > /dev/null && have_zstd=1
for ((r = 0; r <= ROUNDS; r++)); do
  if ((r == 1)); then  # round 0 only warms up
    times=()
    rss=()
    close_times=()
  fi
  run cat "$COPY" sh -c "cat '$SRC' > '$COPY'"
  run cat_sync "$COPY" sh -c "cat '$SRC' > '$COPY' && sync '$COPY' '$WORK/copies'"
  run dd "$COPY" dd if="$SRC" of="$COPY" bs=128K status=none
  if ((have_zstd)); then
    run zstd "$COPY" sh -c "zstd -1 -T1 -q < '$SRC' > '$COPY'"
  fi
  rm -f "$COPY"
  run pool_none "$WORK/pool/none.img" "$TOOL" write "$SRC" "$WORK/pool" none.img none
  rm -f "$WORK/pool/none.img"
  run pool_zstd "$WORK/pool/zstd.img" "$TOOL" write "$SRC" "$WORK/pool" zstd.img zstd:1
  run pool_read "$WORK/restored" "$TOOL" read "$WORK/pool" ref.img "$WORK/restored"
  if ! cmp -s "$SRC" "$WORK/restored"; then
    echo "pool_bench: the restored file differs from the original" >&2
    exit 1
  fi
  rm -f "$WORK/restored"
  if [ -n "$OTHER" ]; then
    run other_none "$WORK/other/none.img" "$OTHER" write "$SRC" "$WORK/other" none.img none
    rm -f "$WORK/other/none.img"
    run other_zstd "$WORK/other/zstd.img" "$OTHER" write "$SRC" "$WORK/other" zstd.img zstd:1
    rm -f "$WORK/other/zstd.img"
    run other_read "$WORK/restored" "$OTHER" read "$WORK/other" ref.img "$WORK/restored"
    cmp -s "$SRC" "$WORK/restored" || echo "pool_bench: the other build restored different bytes" >&2
    rm -f "$WORK/restored"
  fi
done
stored_zstd=$(stat -c %s "$WORK/pool/zstd.img")
"$TOOL" read "$WORK/pool" zstd.img "$WORK/restored" > /dev/null
if ! cmp -s "$SRC" "$WORK/restored"; then
  echo "pool_bench: the zstd image does not restore the original" >&2
  exit 1
fi

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
printf '%-12s %8s %8s %8s   %s\n' "run" "best s" "median" "close" "all runs"
for k in cat cat_sync dd zstd pool_none pool_zstd pool_read other_none other_zstd other_read; do
  [ -n "${med[$k]:-}" ] || continue
  c=-
  [ -n "${close_times[$k]:-}" ] && c=$(median "${close_times[$k]}")
  printf '%-12s %8s %8s %8s   %s\n' "$k" "${low[$k]}" "${med[$k]}" "$c" "${times[$k]}"
done
echo "(cat_sync: cat, then fsync of the copy and its directory; close: median seconds the"
echo " pool spent publishing, i.e. flush, fsync, rename and directory sync)"
echo "zstd image: $stored_zstd bytes of $((MIB << 20))"
echo "peak RSS (KiB): write none ${rss[pool_none]:-?}, write zstd ${rss[pool_zstd]:-?}, read ${rss[pool_read]:-?}"
[ -n "$OTHER" ] && echo "peak RSS (KiB) of the other build: write none ${rss[other_none]:-?}, write zstd ${rss[other_zstd]:-?}, read ${rss[other_read]:-?}"
echo
printf '%-34s %6s %6s %8s %8s\n' "goal (best runs)" "ratio" "limit" "verdict" "medians"
goal() {
  local label=$1 a=$2 b=$3 limit=$4
  local r
  r=$(ratio "${low[$a]}" "${low[$b]}")
  printf '%-34s %6s %6s %8s %8s\n' "$label" "$r" "$limit" "$(verdict "$r" "$limit")" \
    "$(ratio "${med[$a]}" "${med[$b]}")"
}
goal "write zstd / cat" pool_zstd cat 1.10
goal "write zstd / cat + sync (durable)" pool_zstd cat_sync 1.10
((have_zstd)) && goal "write zstd / zstd -1 -T1" pool_zstd zstd 0.50
goal "write none / cat" pool_none cat 1.05
goal "write none / cat + sync (durable)" pool_none cat_sync 1.05
goal "read back / cat" pool_read cat 1.10
goal "write zstd / dd bs=128K" pool_zstd dd 1.10
goal "read back / dd bs=128K" pool_read dd 1.10
if [ -n "$OTHER" ]; then
  goal "other: write zstd / cat" other_zstd cat 1.10
  goal "other: write none / cat" other_none cat 1.05
  goal "other: read back / cat" other_read cat 1.10
fi

#!/usr/bin/env bash
# Runs a command (an end-to-end test binary) in a private mount namespace with a fresh
# tmpfs on /dev/disk, so the simulator's /dev/disk/by-id/virtio-<id> links and the
# module's look-ups of them stay private to this run.
# Exits 77 (skip) with a message when not root, without unshare, or without a free
# loop device; otherwise exits with the command's status.
set -euo pipefail

skip() { echo "e2e skipped: $*" >&2; exit 77; }

[ "$#" -gt 0 ] || { echo "usage: $0 command [args...]" >&2; exit 2; }
[ "$(id -u)" = 0 ] || skip "needs root (loop devices and a private mount namespace)"
command -v unshare >/dev/null || skip "unshare is not installed"
command -v losetup >/dev/null || skip "losetup is not installed"
losetup --find >/dev/null 2>&1 || skip "no free loop device"

# The mount point must exist before the namespace can cover it.
[ -d /dev/disk ] || mkdir -p /dev/disk

exec unshare --mount --propagation private -- sh -c '
  mount -t tmpfs -o mode=0755,size=16m tavrosim-disk /dev/disk || exit 77
  mkdir -p /dev/disk/by-id
  exec "$@"' sh "$@"

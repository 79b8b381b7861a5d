#!/usr/bin/env bash
# The demo: a whole backup and restore against the cloud simulator with the built runner.
# It starts the simulator, registers its account and a pool in a temporary host home,
# backs up two instances, restores one of them as a new instance, compares the restored
# volumes with the source's, prints a table, then stops the simulator and removes
# everything it made. Backup and restore need root and a free loop device (the module
# reads the volumes through /dev/disk/by-id); without them the demo says so and runs
# the console and agent calls only.
#
#   bash sim/demo.sh            (QUILLON3_BUILD names the build directory, default build/default)
set -euo pipefail
cd "$(dirname "$0")/.."
SRC=$PWD
BUILD=${QUILLON3_BUILD:-build/default}
Q=$SRC/$BUILD/quillon3
AK=AKIDTAVROSIMDEMO0001
SK='tavrosim/Demo+Secret/Key0001'

say() { printf '\n== %s\n' "$*"; }
die() { echo "demo: $*" >&2; exit 1; }

[ -x "$Q" ] || die "no runner at $Q (run ./run build first)"
command -v python3 >/dev/null || die "python3 is missing"

# With root and a loop device, the demo runs in a private mount namespace with its own
# /dev/disk, so the simulator's device links never touch the machine's.
if [ -z "${QUILLON3_DEMO_INNER:-}" ]; then
  if [ "$(id -u)" = 0 ] && command -v unshare >/dev/null && command -v losetup >/dev/null &&
    losetup --find >/dev/null 2>&1; then
    rc=0
    QUILLON3_DEMO_INNER=jobs bash tests/e2e/sim_namespace.sh bash "$0" || rc=$?
    [ "$rc" = 77 ] || exit "$rc"  # 77: no private namespace could be made here
  fi
  export QUILLON3_DEMO_INNER=console
fi
JOBS=false
[ "$QUILLON3_DEMO_INNER" = jobs ] && JOBS=true

TMP=$(mktemp -d "${TMPDIR:-/tmp}/quillon3-demo-XXXXXX")
SIM_PID=
cleanup() {
  local rc=$?
  if [ -n "$SIM_PID" ] && kill -0 "$SIM_PID" 2>/dev/null; then
    kill -TERM "$SIM_PID" 2>/dev/null || true
    wait "$SIM_PID" 2>/dev/null || true
  fi
  rm -rf "$TMP"
  exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
export QUILLON3_ROOT=$TMP/home

# The simulator's control interface (JSON under /_sim on its port).
simctl() {
  python3 - "$PORT" "$@" <<'EOF'
import json, sys, urllib.request
port, method, path = sys.argv[1], sys.argv[2], sys.argv[3]
body = sys.argv[4].encode() if len(sys.argv) > 4 else None
req = urllib.request.Request("http://127.0.0.1:%s/_sim%s" % (port, path), data=body, method=method,
                             headers={"Content-Type": "application/json"})
print(json.dumps(json.loads(urllib.request.urlopen(req, timeout=60).read())))
EOF
}

# A small cloud: the agent and two instances of 1 GiB volumes on one node.
python3 - "$SRC/sim/seed.json" "$TMP/seed.json" <<'EOF'
import json, sys
seed = json.load(open(sys.argv[1]))
agent = [i for i in seed["instances"] if i.get("agent")]
def vm(name, vols, ip):
    return {"id": "i-" + name, "name": name, "status": "running", "type": "ts.small",
            "image": "img-centos7-x64", "node": "node-a1",
            "nics": [{"subnet": "subnet-prod-a", "groups": ["sg-default"], "ip": ip}],
            "volumes": [{"id": "vol-%s-%s" % (name, v), "name": "%s-%s" % (name, v), "size": 1,
                         "storage": "st-ceph-01", "device": "/dev/vd" + "abc"[n],
                         "root": n == 0} for n, v in enumerate(vols)]}
seed["instances"] = agent + [vm("web01", ["root"], "10.10.1.21"),
                             vm("db01", ["root", "data"], "10.10.1.22")]
seed["volumes"] = []
json.dump(seed, open(sys.argv[2], "w"))
EOF

say "starting the cloud simulator"
LOOP=link
$JOBS && LOOP=losetup
python3 sim/tavrosim.py --port 0 --port-file "$TMP/port" --seed "$TMP/seed.json" \
  --dev-root /dev --loop "$LOOP" >"$TMP/sim.log" 2>&1 &
SIM_PID=$!
for _ in $(seq 300); do
  [ -s "$TMP/port" ] && break
  kill -0 "$SIM_PID" 2>/dev/null || { cat "$TMP/sim.log" >&2; die "the simulator did not start"; }
  sleep 0.1
done
[ -s "$TMP/port" ] || die "the simulator did not report its port"
PORT=$(cat "$TMP/port")
echo "simulator on 127.0.0.1:$PORT (loop mode $LOOP)"

say "host home, cloud account and pool in $QUILLON3_ROOT"
"$Q" init --bits 2048 --name demo-host
printf '%s\n' "$SK" | "$Q" account add --uuid demo-cloud --host 127.0.0.1 --port "$PORT" \
  --access-key "$AK" --secret-key -
mkdir -p "$TMP/pool"
"$Q" pool add --uuid demo-pool --name demo --dir "$TMP/pool"
"$Q" account check --uuid demo-cloud
"$Q" probe
"$Q" console list uuid=demo-cloud subtype=inventory view=instances type=Cloud moid=cloud-tavro-demo

if ! $JOBS; then
  say "backup and restore skipped: they need root and a free loop device"
  echo "(the module reads the volumes through /dev/disk/by-id; run the demo as root)"
  exit 0
fi

cat >"$TMP/backup.json" <<EOF
{
  "type": "backup", "id": "demo-backup", "name": "demo backup",
  "host_id": "demo-cloud", "target_pool": "demo-pool",
  "source": {"id": "demo-cloud", "name": "demo cloud",
             "entries": [{"id": "i-web01", "name": "web01", "type": "Instance"},
                         {"id": "i-db01", "name": "db01", "type": "Instance"}]},
  "options": {"parallel_vms": 2, "parallel_disks_per_vm": 2}
}
EOF
say "backup of web01 and db01"
start=$(date +%s.%N)
"$Q" backup "$TMP/backup.json" >"$TMP/backup-history.json"
backup_seconds=$(python3 -c "import sys; print('%.1f' % (float(sys.argv[2]) - float(sys.argv[1])))" "$start" "$(date +%s.%N)")
"$Q" catalog list --module tavro | tee "$TMP/sets.txt"

"$Q" catalog list --module tavro --json >"$TMP/sets.json"
python3 - "$TMP/sets.json" "$TMP/sets.txt" "$TMP/restore.json" <<'EOF'
import json, sys
sets = [s["uuid"] for s in json.load(open(sys.argv[1])) if s.get("instance_id") == "i-db01"]
if len(sets) != 1:
    sys.exit("demo: no backup set of db01 in the catalog")
timepoints = {line.split()[-3]: line.split()[0] for line in open(sys.argv[2]).readlines()[1:]}
entry = {"catalog_uuid": sets[0], "backup_start_time": timepoints[sets[0]],
         "src_instance_id": "i-db01", "src_instance_name": "db01",
         "target_instance_name": "db01-restored", "target_node_id": "node-a1",
         "target_cluster_id": "cluster-a",
         "flavor": {"type": "ts.small", "display_name": "Small", "cpu": 1, "ram": 1024},
         "nic": [{"vpc_id": "vpc-prod", "vpc_name": "production", "subnet_id": "subnet-prod-a",
                  "subnet_name": "prod-a", "type": "main",
                  "security_groups": [{"security_group_id": "sg-default",
                                       "security_group_name": "default"}]}],
         "volumes": [{"id": "vol-db01-" + v, "name": "db01-" + v, "storage_id": "st-ceph-01",
                      "storage_type": "ceph", "size": 1} for v in ("root", "data")]}
json.dump({"type": "restore", "subtype": "vm", "id": "demo-restore", "name": "demo restore",
           "host_id": "demo-cloud", "target_pool": "demo-pool",
           "source": {"id": "demo-cloud", "name": "demo cloud", "entries": [entry]},
           "options": {"parallel_disks_per_vm": 2, "start_vm": True}},
          open(sys.argv[3], "w"), indent=2)
EOF
say "restore of db01 as the new instance db01-restored"
start=$(date +%s.%N)
"$Q" restore "$TMP/restore.json" >"$TMP/restore-history.json"
restore_seconds=$(python3 -c "import sys; print('%.1f' % (float(sys.argv[2]) - float(sys.argv[1])))" "$start" "$(date +%s.%N)")

say "comparing the restored volumes with the source's"
simctl GET /state >"$TMP/state.json"
for v in vol-db01-root vol-db01-data; do simctl GET "/digest?id=$v"; done >"$TMP/source-digests"
python3 - "$TMP/state.json" "$PORT" >"$TMP/restored-digests" <<'EOF'
import json, sys, urllib.request
state = json.load(open(sys.argv[1]))
made = [i for i in state["instances"]
        if i.get("name") == "db01-restored" and i.get("status") != "terminated"]
if len(made) != 1:
    sys.exit("demo: the restored instance db01-restored is not in the cloud")
attached = sorted((v["attachment"]["device"], v["id"]) for v in state["volumes"]
                  if (v.get("attachment") or {}).get("instance_id") == made[0]["id"])
for device, volume in attached:
    url = "http://127.0.0.1:%s/_sim/digest?id=%s" % (sys.argv[2], volume)
    print(json.dumps(json.loads(urllib.request.urlopen(url, timeout=60).read())))
EOF

python3 - "$TMP/backup-history.json" "$TMP/source-digests" "$TMP/restored-digests" \
  "$backup_seconds" "$restore_seconds" <<'EOF'
import datetime, json, sys
hist = json.load(open(sys.argv[1]))
def digests(path):
    return sorted(json.loads(l)["digest"] for l in open(path) if l.strip())
src, restored = digests(sys.argv[2]), digests(sys.argv[3])
verified = "yes" if src and src == restored else "NO"
def size(n):
    for unit in ("B", "KiB", "MiB"):
        if n < 1024:
            return "%g %s" % (round(n, 1), unit)
        n /= 1024
    return "%.2f GiB" % n
def seconds(h):
    t = [datetime.datetime.strptime(h[k], "%Y-%m-%d %H:%M:%S") for k in ("start_time", "end_time")]
    return "%d" % (t[1] - t[0]).total_seconds()
rows = [("INSTANCE", "VOLUMES", "BYTES", "STORED", "SECONDS", "VERIFIED")]
vols = {"web01": 1, "db01": 2}
for h in sorted(hist, key=lambda h: h["name"], reverse=True):
    name = h["name"]
    rows.append((name, str(vols.get(name, "?")), size(h["size"]), size(h["storaged_size"]),
                 seconds(h), verified if name == "db01" else "-"))
widths = [max(len(r[i]) for r in rows) for i in range(len(rows[0]))]
print()
for r in rows:
    print("  ".join(c.ljust(w) for c, w in zip(r, widths)).rstrip())
print("\nbackup job %s s; db01 restored as db01-restored in %s s, its volumes compared with "
      "the source's: %s" % (sys.argv[4], sys.argv[5], "equal" if verified == "yes" else "DIFFERENT"))
if verified != "yes":
    sys.exit("demo: the restored volumes differ from the source's")
EOF
say "done; stopping the simulator and removing $TMP"

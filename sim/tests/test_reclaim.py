"""A simulator ended by SIGKILL leaves its data folder, the loop devices over its files and
the links to them; the next start removes them, and never what a live simulator holds, nor
what is not a simulator's, whatever the start can see."""

import collections
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

import support
from support import ACCESS_KEY, SECRET, SEED, AGENT_MAC
from cloudsim import reclaim
from cloudsim.client import QueryClient
from cloudsim.loopdev import bound_file, loop_devices_usable
from cloudsim.server import Simulator

LOOP_OK = loop_devices_usable()
SCRIPT = os.path.join(support.SIM_DIR, "tavrosim.py")
HOLDER = ("import sys; sys.path.insert(0, %r); from cloudsim import reclaim; "
          "reclaim.hold(sys.argv[1]); print('held', flush=True); sys.stdin.read()"
          % support.SIM_DIR)
RECLAIMER = ("import json, sys; sys.path.insert(0, %r); from cloudsim import reclaim; "
             "print(json.dumps(reclaim.reclaim([sys.argv[1]], sys.argv[2], sys.argv[3:])))"
             % support.SIM_DIR)
HOUR_AGO = time.time() - 3600
# Far more than any reclaim needs: one that hangs is ended and fails its test.
HANG_LIMIT = 60

# lock: what the folder holds as its lock file ("killed": a lock whose holder was ended
# by SIGKILL; "gone": so, and the folder then removed by its maker). removed: by the
# reclaim; freed: its loop devices detached and the links to them removed.
Row = collections.namedtuple("Row", "name lock aged removed freed")


def end(proc):
    if proc.poll() is None:
        proc.kill()
    proc.communicate()


class Reclaim(unittest.TestCase):
    def setUp(self):
        self.base = tempfile.mkdtemp(prefix="tavrosim-reclaim-")
        self.addCleanup(shutil.rmtree, self.base, True)
        self.by_id = os.path.join(self.base, "dev", "disk", "by-id")
        os.makedirs(self.by_id)

    def holder(self, folder):
        """A process that holds the folder's lock until it is ended."""
        proc = subprocess.Popen([sys.executable, "-c", HOLDER, folder], stdin=subprocess.PIPE,
                                stdout=subprocess.PIPE, text=True)
        self.addCleanup(end, proc)
        self.assertEqual("held\n", proc.stdout.readline())
        return proc

    def device_over(self, path, res_id):
        """A loop device over `path` (a link to the file without root), linked as the
        simulator links its devices; returns (device or path, link)."""
        target = path
        if LOOP_OK:
            target = subprocess.run(["losetup", "--find", "--show", path], check=True,
                                    stdout=subprocess.PIPE, text=True).stdout.strip()
            self.addCleanup(lambda: bound_file(target) is None or
                            subprocess.run(["losetup", "--detach", target]))
        link = os.path.join(self.by_id, "virtio-" + res_id)
        os.symlink(target, link)
        return target, link

    def reclaim_from(self, base, keep=(), private=False):
        """The folders a start removes reclaiming `base`, the reclaim run as a process of
        its own; with `private`, in a mount namespace of its own where `base` is an empty
        folder (a private temporary folder, as a service may have)."""
        cmd = [sys.executable, "-c", RECLAIMER, base, os.path.join(self.base, "dev"), *keep]
        if private:
            cmd = ["unshare", "--mount", "--propagation", "private", "sh", "-c",
                   'mount -t tmpfs private "$0" && exec "$@"', base] + cmd
        res = subprocess.run(cmd, stdout=subprocess.PIPE, text=True, timeout=HANG_LIMIT)
        self.assertEqual(0, res.returncode)
        return json.loads(res.stdout)

    def put_lock(self, folder, lock):
        """Puts in place of the folder's lock file what `lock` names."""
        path = os.path.join(folder, reclaim.LOCK_NAME)
        if lock in ("killed", "gone", "live", "unlinked"):
            holder = self.holder(folder)
            if lock in ("killed", "gone"):
                end(holder)  # SIGKILL
            if lock == "unlinked":
                os.unlink(path)
        elif lock == "fifo":
            os.mkfifo(path)
        elif lock == "folder":
            os.mkdir(path)
        elif lock == "link":  # to a lock file nobody holds
            with open(os.path.join(folder, "free.lock"), "w"):
                pass
            os.symlink("free.lock", path)

    def test_only_the_folders_of_simulators_that_are_gone_are_removed(self):
        freed_gone = LOOP_OK  # a link to a file cannot tell it removed from out of sight
        rows = [
            Row("tavrosim-Dead01", "killed", aged=False, removed=True, freed=True),
            Row("tavrosim-live01", "live", aged=False, removed=False, freed=False),
            # The starting simulator's own.
            Row("tavrosim-kept01", "killed", aged=False, removed=False, freed=False),
            # Being set up; a user's lookalike, an hour old, holding the user's file.
            Row("tavrosim-new001", "none", aged=False, removed=False, freed=False),
            Row("tavrosim-user0001", "none", aged=True, removed=False, freed=False),
            # A live simulator's whose lock file someone removed.
            Row("tavrosim-unlk01", "unlinked", aged=True, removed=False, freed=False),
            # Not a lock file of a simulator's: never opened for real, never waited on.
            Row("tavrosim-fifo01", "fifo", aged=True, removed=False, freed=False),
            Row("tavrosim-dir001", "folder", aged=True, removed=False, freed=False),
            Row("tavrosim-link01", "link", aged=True, removed=False, freed=False),
            # Not a simulator's name.
            Row("other-dead01", "killed", aged=False, removed=False, freed=False),
            Row("tavrosim-test-dead01", "killed", aged=False, removed=False, freed=False),
            # Its devices kept the deleted files.
            Row("tavrosim-gone01", "gone", aged=False, removed=False, freed=freed_gone),
        ]
        made = {}
        for row in rows:
            folder = os.path.join(self.base, row.name)
            os.makedirs(os.path.join(folder, "volumes"))
            volume = os.path.join(folder, "volumes", "vol-" + row.name)
            with open(volume, "wb") as f:
                f.truncate(1 << 20)
            self.put_lock(folder, row.lock)
            made[row.name] = self.device_over(volume, "vol-" + row.name)
            if row.lock == "gone":
                shutil.rmtree(folder)
            if row.aged:
                os.utime(folder, (HOUR_AGO, HOUR_AGO))

        removed = self.reclaim_from(self.base, keep=[os.path.join(self.base, "tavrosim-kept01")])

        self.assertEqual(sorted(os.path.join(self.base, r.name) for r in rows if r.removed),
                         removed)
        for row in rows:
            with self.subTest(row.name):
                device, link = made[row.name]
                self.assertEqual(row.removed or row.lock == "gone",
                                 not os.path.exists(os.path.join(self.base, row.name)))
                self.assertEqual(row.freed, not os.path.lexists(link))
                if LOOP_OK:
                    self.assertEqual(row.freed, bound_file(device) is None, device)

    @unittest.skipUnless(LOOP_OK and shutil.which("unshare"), "needs root, loop devices, unshare")
    def test_a_live_simulator_out_of_sight_keeps_its_devices(self):
        tmp = os.path.join(self.base, "tmp")
        folder = os.path.join(tmp, "tavrosim-live02")
        os.makedirs(folder)
        volume = os.path.realpath(os.path.join(folder, "vol-live02"))
        with open(volume, "wb") as f:
            f.truncate(1 << 20)
        self.holder(folder)
        device, link = self.device_over(volume, "vol-live02")

        self.assertEqual([], self.reclaim_from(tmp, private=True))

        self.assertEqual(volume, bound_file(device))
        self.assertEqual(device, os.readlink(link))

    def test_a_running_simulator_keeps_its_folder_until_it_stops(self):
        folder = os.path.join(self.base, "tavrosim-sim001")
        sim = Simulator(seed=SEED, loop_mode="link", dev_root=os.path.join(self.base, "dev"),
                        data_dir=folder, dmi_path=os.path.join(self.base, "no-dmi"),
                        agent_mac=AGENT_MAC)
        self.addCleanup(sim.stop)
        os.utime(folder, (HOUR_AGO, HOUR_AGO))
        self.assertEqual([], reclaim.reclaim([self.base], os.path.join(self.base, "dev")))
        self.assertTrue(os.path.isdir(folder))
        sim.stop()
        self.assertEqual([folder], reclaim.reclaim([self.base], os.path.join(self.base, "dev")))

    def start(self, loop):
        """The simulator's command line with its temporary folder in this test's base."""
        proc = subprocess.Popen(
            [sys.executable, SCRIPT, "--port", "0", "--seed", SEED, "--loop", loop,
             "--transition-polls", "0",
             "--dev-root", os.path.join(self.base, "dev"), "--dmi-path",
             os.path.join(self.base, "no-dmi"), "--agent-mac", AGENT_MAC],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
            env=dict(os.environ, TMPDIR=self.base))
        self.addCleanup(end, proc)
        line = proc.stdout.readline()
        self.assertIn("listening on port", line, line or proc.stderr.read())
        return proc, int(line.split("port ")[1].split()[0])

    def test_the_next_start_removes_what_a_killed_simulator_left(self):
        loop = "losetup" if LOOP_OK else "link"
        first, port = self.start(loop)
        q = QueryClient("127.0.0.1", port, ACCESS_KEY, SECRET)
        q.call("DetachVolume", [("InstanceId", "i-db01"), ("VolumeId", "vol-db01-data")])
        q.call("AttachVolume", [("InstanceId", "i-agent001"), ("Device", "/dev/vdb"),
                                ("VolumeId", "vol-db01-data")])
        link = os.path.join(self.by_id, "virtio-vol-db01-data")
        device = os.readlink(link)
        left = [os.path.join(self.base, n) for n in os.listdir(self.base)
                if reclaim.FOLDER_PATTERN.match(n)]
        self.assertEqual(1, len(left), os.listdir(self.base))
        end(first)  # SIGKILL
        self.assertTrue(os.path.isdir(left[0]))

        second, _ = self.start(loop)
        self.assertFalse(os.path.exists(left[0]))
        self.assertFalse(os.path.lexists(link))
        if LOOP_OK:
            self.assertIsNone(bound_file(device), device)
        ours = [n for n in os.listdir(self.base) if reclaim.FOLDER_PATTERN.match(n)]
        self.assertEqual(1, len(ours), "the second simulator keeps its own folder")
        second.send_signal(signal.SIGTERM)
        second.communicate(timeout=60)
        self.assertEqual(0, second.returncode)


if __name__ == "__main__":
    unittest.main()

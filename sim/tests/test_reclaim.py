"""A simulator ended by SIGKILL leaves its data folder, the loop devices over its files and
the links to them; the next start removes them, and never what a live simulator holds."""

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
HOUR_AGO = time.time() - 3600


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

    def test_only_the_folders_of_simulators_that_are_gone_are_removed(self):
        rows = [  # name, lock (killed: its holder ended by SIGKILL), aged, removed
            ("tavrosim-Dead01", "killed", False, True),
            ("tavrosim-live01", "live", False, False),
            ("tavrosim-kept01", "killed", False, False),  # the starting simulator's own
            ("tavrosim-new001", "none", False, False),  # being set up
            ("tavrosim-old0001", "none", True, True),  # its maker died before the simulator
            ("other-dead01", "killed", False, False),  # not a simulator's name
            ("tavrosim-test-dead01", "killed", False, False),
            ("tavrosim-gone01", "killed", False, True),  # removed by its maker, devices kept
        ]
        made = {}
        for name, lock, aged, _ in rows:
            folder = os.path.join(self.base, name)
            os.makedirs(os.path.join(folder, "volumes"))
            volume = os.path.join(folder, "volumes", "vol-" + name)
            with open(volume, "wb") as f:
                f.truncate(1 << 20)
            if lock != "none":
                holder = self.holder(folder)
                if lock == "killed":
                    end(holder)  # SIGKILL
            made[name] = self.device_over(volume, "vol-" + name)
            if name == "tavrosim-gone01":
                shutil.rmtree(folder)
            if aged:
                os.utime(folder, (HOUR_AGO, HOUR_AGO))

        removed = reclaim.reclaim([self.base], os.path.join(self.base, "dev"),
                                  keep=[os.path.join(self.base, "tavrosim-kept01")])

        self.assertEqual(sorted(os.path.join(self.base, r[0]) for r in rows
                                if r[3] and r[0] != "tavrosim-gone01"), removed)
        for name, _, _, gone in rows:
            with self.subTest(name):
                device, link = made[name]
                self.assertEqual(gone or name == "tavrosim-gone01",
                                 not os.path.exists(os.path.join(self.base, name)))
                self.assertEqual(gone, not os.path.lexists(link))
                if LOOP_OK:
                    self.assertEqual(gone, bound_file(device) is None, device)

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

"""Attachments to the agent become local devices (loop devices, or links to the backing
files where loop devices cannot be had) under <dev root>/disk/by-id/virtio-<id>, and
go away on detach and on shutdown. Reading and writing through them, and one device per
attachment, are driven end to end against the module's client."""

import errno
import os
import stat
import subprocess
import threading
import time
import unittest

import support  # noqa: F401
from support import SimTestCase
from cloudsim import backing
from cloudsim.loopdev import loop_devices_usable

LOOP_OK = loop_devices_usable()


class AgentDevices(SimTestCase):
    config = {"transition_polls": 0}

    def link(self, ident):
        return os.path.join(self.dev_root, "disk", "by-id", "virtio-" + ident)

    def tmp_snapshot_on_agent(self, volume):
        tmp = self.tmp_snapshot(volume)
        self.q.call("AttachTmpSnapshot", [("TmpSnapshotId", tmp), ("InstanceId", "i-agent001")])
        return tmp

    def test_snapshot_keeps_the_bytes_of_its_moment(self):
        tmp = self.tmp_snapshot_on_agent("vol-web01-root")
        before = self.ctl.get("/digest", id="vol-web01-root")["digest"]
        self.ctl.post("/write", {"id": "vol-web01-root", "offset": 4096, "hex": "ab" * 512})
        self.assertNotEqual(before, self.ctl.get("/digest", id="vol-web01-root")["digest"])
        self.assertEqual(before, self.ctl.get("/digest", id=tmp)["digest"])
        first = backing.pattern_chunks("vol-web01-root", backing.GIB)[0][1]
        with open(self.link(tmp), "rb") as f:
            f.seek(4096)
            self.assertEqual(first[4096:4608], f.read(512))


@unittest.skipUnless(LOOP_OK, "needs root and a free loop device")
class LoopDevices(AgentDevices):
    loop_mode = "losetup"

    @staticmethod
    def marked_for_release(device):
        """Waits until a detach has asked the kernel to free the (still open) device."""
        flag = "/sys/block/%s/loop/autoclear" % os.path.basename(device)
        for _ in range(6000):
            with open(flag) as f:
                if f.read().strip() == "1":
                    return True
            time.sleep(0.01)
        return False

    def test_devices_are_block_devices_snapshots_read_only_detached_on_shutdown(self):
        for action, instance in (("DetachVolume", "i-db01"), ("AttachVolume", "i-agent001")):
            self.q.call(action, [("InstanceId", instance), ("Device", "/dev/vdb"),
                                 ("VolumeId", "vol-db01-data")])
        tmp = self.tmp_snapshot_on_agent("vol-web01-root")
        for ident in ("vol-db01-data", tmp):
            mode = os.stat(os.path.realpath(self.link(ident))).st_mode
            self.assertTrue(stat.S_ISBLK(mode), ident)
        before = self.ctl.get("/digest", id=tmp)["digest"]
        with self.assertRaises(OSError) as cm:
            fd = os.open(self.link(tmp), os.O_RDWR)
            try:
                os.pwrite(fd, b"x" * 4096, 0)
                os.fsync(fd)
            finally:
                os.close(fd)
        self.assertIn(cm.exception.errno, (errno.EROFS, errno.EACCES, errno.EPERM))
        self.assertEqual(before, self.ctl.get("/digest", id=tmp)["digest"])
        devices = self.ctl.get("/state")["loop_devices"]
        self.assertEqual(2, len(devices))
        # Another process (a listing or a probe of the machine's disks) has one open while
        # the simulator stops: its detach only takes effect once that process lets go,
        # and the stop must wait for it.
        held = next(d["device"] for d in devices if d["res_id"] == tmp)
        holder = os.open(held, os.O_RDONLY)
        stopping = threading.Thread(target=self.sim.stop)
        stopping.start()
        self.assertTrue(self.marked_for_release(held), held)
        stopping.join(0.5)  # only a stop that does not wait can end here
        self.assertTrue(stopping.is_alive(), "the stop left %s to its holder" % held)
        os.close(holder)
        stopping.join()
        # Listed by their backing files, also those already deleted.
        listing = subprocess.run(["losetup", "--list"], stdout=subprocess.PIPE, check=True,
                                 text=True).stdout
        self.assertNotIn(self.tmp, listing)
        self.assertFalse(os.path.lexists(self.link(tmp)))


if __name__ == "__main__":
    unittest.main()

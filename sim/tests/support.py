"""Shared pieces of the simulator's tests: a simulator per test (loopback, a private
device root, link-mode devices unless a test asks for loop devices) and short readers of
its answers."""

import os
import shutil
import sys
import tempfile
import unittest

SIM_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
if SIM_DIR not in sys.path:
    sys.path.insert(0, SIM_DIR)

from cloudsim.client import ControlClient, QueryClient  # noqa: E402
from cloudsim.server import Simulator  # noqa: E402
from cloudsim.state import Config  # noqa: E402

SEED = os.path.join(SIM_DIR, "seed.json")
ACCESS_KEY = "AKIDTAVROSIMDEMO0001"
SECRET = "tavrosim/Demo+Secret/Key0001"
AGENT_MAC = "02:00:00:00:00:aa"


class SimTestCase(unittest.TestCase):
    loop_mode = "link"
    config = None

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="tavrosim-test-")
        self.dev_root = os.path.join(self.tmp, "dev")
        self.sim = Simulator(seed=SEED, loop_mode=self.loop_mode, dev_root=self.dev_root,
                             data_dir=os.path.join(self.tmp, "data"),
                             config=Config(**(self.config or {})),
                             dmi_path=os.path.join(self.tmp, "no-dmi"), agent_mac=AGENT_MAC)
        self.sim.start()
        self.q = QueryClient("127.0.0.1", self.sim.port, ACCESS_KEY, SECRET)
        self.ctl = ControlClient("127.0.0.1", self.sim.port)

    def tearDown(self):
        self.sim.stop()
        shutil.rmtree(self.tmp, ignore_errors=True)

    def records(self, action, params=()):
        """The listed items of a describe answer."""
        return self.q.call(action, params).findall("./*/item")

    def new_volume(self, **extra):
        params = dict([("AvailabilityZone", "cluster-a"), ("Size", "1"),
                       ("StorageId", "st-ceph-01")], **extra)
        return self.q.call("CreateVolume", params.items()).findtext("volumeId")

    def tmp_snapshot(self, vol):
        return self.q.call("CreateTmpSnapshots", [("VolumeId.1", vol)]).findtext(".//tmpSnapshotId")

    def refused(self, action, params, code, status=None, **kw):
        got, body = self.q.raw(action, params, **kw)
        self.assertEqual(status or got, got, body)
        self.assertNotEqual(200, got, body)
        self.assertIn(("<Code>%s</Code>" % code).encode(), body)

"""The control interface: seeding, settings, the call log, leftovers, digests and the
agent's identity."""

import os
import unittest

import support
from support import SEED, SimTestCase
from cloudsim import backing
from cloudsim.client import CallFailed, QueryClient


class Control(SimTestCase):
    config = {"transition_polls": 0}

    def test_call_log_keeps_parameters_in_order(self):
        params = [("VolumeName", "v"), ("AvailabilityZone", "cluster-a"), ("Size", "1"),
                  ("StorageId", "st-ceph-01"), ("nodeId", "node-a1")]
        self.q.call("CreateVolume", params)
        self.q.call("DescribeCloud")
        calls = self.ctl.get("/calls", action="CreateVolume")
        self.assertEqual([[n, v] for n, v in params], calls[0]["params"])
        self.assertEqual(support.ACCESS_KEY, calls[0]["access_key"])
        self.assertEqual(2, len(self.ctl.get("/calls")))
        self.ctl.delete("/calls")
        self.assertEqual([], self.ctl.get("/calls"))

    def test_leftovers_name_every_kind_of_temporary_resource(self):
        q = self.q
        self.assertTrue(self.ctl.get("/leftovers")["clean"])
        vol = q.call("CreateVolume", [("AvailabilityZone", "cluster-a"), ("Size", "1"),
                                      ("StorageId", "st-ceph-01")]).findtext("volumeId")
        cases = [
            ("volumes", lambda: None, lambda: q.call("DeleteVolume", [("VolumeId", vol)])),
            ("attachments", lambda: q.call("AttachVolume", [
                ("InstanceId", "i-agent001"), ("Device", "/dev/vdb"), ("VolumeId", vol)]),
             lambda: q.call("DetachVolume", [("VolumeId", vol)])),
            ("links", lambda: None, lambda: None),
            ("snapshots", lambda: self.created.update(snap=q.call(
                "CreateSnapshot", [("VolumeId", vol)]).findtext("snapshotId")),
             lambda: q.call("DeleteSnapshot", [("SnapshotId", self.created["snap"])])),
            ("tmp_snapshots", lambda: self.created.update(tmp=q.call(
                "CreateTmpSnapshots", [("VolumeId.1", vol)]).findtext(".//tmpSnapshotId")),
             lambda: q.call("DeleteTmpSnapshots",
                            [("TmpSnapshotId.1", self.created["tmp"])])),
            ("instance_backups", lambda: self.created.update(ib=q.call(
                "BackupInstance", [("InstanceId", "i-web01")]).findtext("backupId")),
             lambda: q.call("DeleteInstanceBackup", [("BackupId", self.created["ib"])])),
            ("network_interfaces", lambda: self.created.update(nif=q.call(
                "CreateNetworkInterface", [("SubnetId", "subnet-prod-a")]
            ).findtext(".//networkInterfaceId")),
             lambda: q.call("DeleteNetworkInterface",
                            [("NetworkInterfaceId", self.created["nif"])])),
        ]
        self.created = {}
        for kind, make, _ in cases:
            make()
            self.assertTrue(self.ctl.get("/leftovers")[kind], kind)
        self.assertFalse(self.ctl.get("/leftovers")["clean"])
        for kind, _, undo in reversed(cases):
            undo()
        left = self.ctl.get("/leftovers")
        self.assertTrue(left["clean"], left)

    def test_digest_of_seeded_data_and_writes(self):
        expected = backing.chunks_digest(
            backing.GIB, backing.pattern_chunks("vol-app01-data", backing.GIB))
        self.assertEqual(expected, self.ctl.get("/digest", id="vol-app01-data")["digest"])
        self.ctl.post("/write", {"id": "vol-app01-data", "offset": 0, "hex": "00" * 16})
        self.assertNotEqual(expected,
                            self.ctl.get("/digest", id="vol-app01-data")["digest"])
        blank = backing.chunks_digest(backing.GIB, [])
        self.assertEqual(blank, self.ctl.get("/digest", id="vol-spare-01")["digest"])
        with self.assertRaises(CallFailed) as cm:
            self.ctl.get("/digest", id="vol-nothere")
        self.assertEqual(404, cm.exception.status)

    def test_reseeding_forgets_everything_made(self):
        self.q.call("CreateTmpSnapshots", [("VolumeId.1", "vol-web01-root")])
        self.ctl.post("/faults", {"action": "DescribeCloud"})
        self.ctl.post("/seed", {"file": SEED})
        self.assertTrue(self.ctl.get("/leftovers")["clean"])
        self.assertEqual([], self.ctl.get("/faults")["pending"])
        self.q.call("DescribeCloud")

    def test_settings_accounts_and_patches(self):
        self.ctl.post("/config", {"version": "V9.7"})
        self.assertEqual("V9.7", self.q.call("GetCloudVersion").findtext(".//version"))
        for bad in ({"no_such_setting": 1}, {"transition_polls": "2"},
                    {"strict_params": 1}, {"version": None}):
            with self.subTest(bad=bad), self.assertRaises(CallFailed):
                self.ctl.post("/config", bad)
        self.ctl.post("/config", {"default_page_size": None, "transition_polls": 0})
        self.ctl.post("/accounts", {"AKIDSECOND": "second-secret"})
        other = QueryClient("127.0.0.1", self.sim.port, "AKIDSECOND", "second-secret")
        other.call("DescribeCloud")
        self.ctl.post("/patch", {"store": "volumes", "id": "vol-spare-01",
                                 "set": {"status": "error"}})
        self.assertEqual("error", self.volume("vol-spare-01"))
        with self.assertRaises(CallFailed) as cm:
            self.ctl.get("/nothing")
        self.assertEqual(404, cm.exception.status)

    def test_agent_identity_follows_the_dmi_line(self):
        dmi = os.path.join(self.tmp, "no-dmi")
        cases = [("8a6e1a9c-3b7d-4f22-9d1e-0c2b4f4a3732\n", "i-4F4A3732"),
                 ("0c2b4f4a3732   \n", "i-4F4A3732"),
                 ("  short \n", "i-agent001")]
        for line, agent in cases:
            with self.subTest(line=line):
                with open(dmi, "w") as f:
                    f.write(line)
                self.assertEqual(agent, self.ctl.post("/seed", {"file": SEED})["agent_id"])
                self.assertEqual(support.AGENT_MAC, self.field(
                    "DescribeInstances", self.filter("instance-id", agent), "mainNetifMac"))


if __name__ == "__main__":
    unittest.main()

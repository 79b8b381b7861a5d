"""The control interface: settings and leftovers (digests, the agent's identity and
reseeding are relied on by every C++ end-to-end test)."""

import unittest

from support import SimTestCase
from cloudsim.client import CallFailed


class Control(SimTestCase):
    config = {"transition_polls": 0}

    def test_leftovers_name_every_kind_of_temporary_resource(self):
        """Each kind shows while one is left and the whole is clean once all are undone."""
        q, made = self.q, {}

        def make(key, action, params, path):
            return lambda: made.update({key: q.call(action, params).findtext(path)})
        vol = self.new_volume()
        cases = [  # kind, make, undo: later ones use what earlier ones made
            ("volumes", lambda: None, lambda: q.call("DeleteVolume", [("VolumeId", vol)])),
            ("attachments", lambda: q.call("AttachVolume", [
                ("InstanceId", "i-agent001"), ("Device", "/dev/vdb"), ("VolumeId", vol)]),
             lambda: q.call("DetachVolume", [("VolumeId", vol)])),
            ("links", lambda: None, lambda: None),
            ("snapshots", make("snap", "CreateSnapshot", [("VolumeId", vol)], "snapshotId"),
             lambda: q.call("DeleteSnapshot", [("SnapshotId", made["snap"])])),
            ("tmp_snapshots", make("tmp", "CreateTmpSnapshots", [("VolumeId.1", vol)],
                                   ".//tmpSnapshotId"),
             lambda: q.call("DeleteTmpSnapshots", [("TmpSnapshotId.1", made["tmp"])])),
            ("instance_backups", make("ib", "BackupInstance", [("InstanceId", "i-web01")],
                                      "backupId"),
             lambda: q.call("DeleteInstanceBackup", [("BackupId", made["ib"])])),
            ("network_interfaces", make("nif", "CreateNetworkInterface",
                                        [("SubnetId", "subnet-prod-a")], ".//networkInterfaceId"),
             lambda: q.call("DeleteNetworkInterface", [("NetworkInterfaceId", made["nif"])])),
        ]
        for kind, do, _ in cases:
            do()
            self.assertTrue(self.ctl.get("/leftovers")[kind], kind)
        self.assertFalse(self.ctl.get("/leftovers")["clean"])
        for kind, _, undo in reversed(cases):
            undo()
        left = self.ctl.get("/leftovers")
        self.assertTrue(left["clean"], left)

    def test_settings(self):
        self.ctl.post("/config", {"version": "V9.7"})
        self.assertEqual("V9.7", self.q.call("GetCloudVersion").findtext(".//version"))
        for bad in ({"no_such_setting": 1}, {"transition_polls": "2"}, {"strict_params": 1},
                    {"version": None}):
            with self.subTest(bad=bad), self.assertRaises(CallFailed):
                self.ctl.post("/config", bad)
        self.ctl.post("/config", {"default_page_size": None, "transition_polls": 0})
        with self.assertRaises(CallFailed) as cm:
            self.ctl.get("/nothing")
        self.assertEqual(404, cm.exception.status)


if __name__ == "__main__":
    unittest.main()

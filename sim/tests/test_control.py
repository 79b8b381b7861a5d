"""The control interface: settings and leftovers (digests, the agent's identity and
reseeding are relied on by every C++ end-to-end test)."""

import unittest

from support import SimTestCase
from cloudsim.client import CallFailed


class Control(SimTestCase):
    config = {"transition_polls": 0}

    def test_leftovers_name_every_kind_of_temporary_resource(self):
        """Each kind shows while one is left; the whole is clean once all are undone."""
        vol = self.new_volume()
        attach = [("InstanceId", "i-agent001"), ("Device", "/dev/vdb"), ("VolumeId", vol)]
        cases = [  # kind, action, parameters, the new id's path, undo action, its id parameter
            ("attachments", "AttachVolume", attach, None, "DetachVolume", "VolumeId"),
            ("snapshots", "CreateSnapshot", [("VolumeId", vol)], "snapshotId",
             "DeleteSnapshot", "SnapshotId"),
            ("tmp_snapshots", "CreateTmpSnapshots", [("VolumeId.1", vol)], ".//tmpSnapshotId",
             "DeleteTmpSnapshots", "TmpSnapshotId.1"),
            ("instance_backups", "BackupInstance", [("InstanceId", "i-web01")], "backupId",
             "DeleteInstanceBackup", "BackupId"),
            ("network_interfaces", "CreateNetworkInterface", [("SubnetId", "subnet-prod-a")],
             ".//networkInterfaceId", "DeleteNetworkInterface", "NetworkInterfaceId"),
        ]
        undo = [("DeleteVolume", "VolumeId", vol)]
        for _, action, params, path, undo_action, key in cases:
            answer = self.q.call(action, params)
            undo.append((undo_action, key, answer.findtext(path) if path else vol))
        left = self.ctl.get("/leftovers")
        for kind in ["volumes", "links"] + [c[0] for c in cases]:
            self.assertTrue(left[kind], kind)
        self.assertFalse(left["clean"])
        for action, key, made in reversed(undo):
            self.q.call(action, [(key, made)])
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

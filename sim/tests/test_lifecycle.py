"""The state rules the module's flows depend on (its waits on each kind of change are
driven end to end)."""

import concurrent.futures
import unittest

from support import SimTestCase


class Rules(SimTestCase):
    config = {"transition_polls": 0}

    def test_refusals(self):
        free = self.new_volume()
        local = self.new_volume(StorageId="st-localvg-a2", nodeId="node-a2")

        def att(inst, dev, vol):
            return [("InstanceId", inst), ("Device", dev), ("VolumeId", vol)]

        def vol(size="1", storage="st-ceph-01", zone="cluster-a", **extra):
            return [("AvailabilityZone", zone), ("Size", size), ("StorageId", storage),
                    *extra.items()]
        nif = [("SubnetId", "subnet-prod-a")]
        bad, state, in_use = "InvalidParameterValue", "IncorrectState", "VolumeInUse"
        cases = [  # name, action, parameters, code
            ("unknown action", "DescribeFoo", [], "InvalidAction"),
            ("missing parameter", "DeleteVolume", [], "MissingParameter"),
            ("misnamed parameter", "DeleteVolume", [("VolumeID", free)], "UnknownParameter"),
            ("unknown volume", "DeleteVolume", [("VolumeId", "vol-x")], "InvalidVolume.NotFound"),
            ("local storage without a node", "CreateVolume",
             vol(storage="st-localfs-b1", zone="cluster-b"), "MissingParameter"),
            ("device taken", "AttachVolume", att("i-db01", "/dev/vdb", free), bad),
            ("volume in use", "AttachVolume", att("i-db01", "/dev/vdf", "vol-web01-root"), in_use),
            ("local volume on another node", "AttachVolume", att("i-web01", "/dev/vdb", local),
             bad),
            ("root of a running instance", "DetachVolume",
             att("i-web01", "/dev/vda", "vol-web01-root"), state),
            ("delete an attached volume", "DeleteVolume", [("VolumeId", "vol-db01-data")], in_use),
            ("storage full", "CreateVolume", vol(size="3000"), "InsufficientStorageCapacity"),
            ("unknown node", "CreateVolume", vol(storage="st-localfs-b1", nodeId="node-x"),
             "InvalidNode.NotFound"),
            ("move to a node of another zone", "ModifyVolumeStorage",
             [("volumeId", local), ("storageId", "st-localvg-a2"), ("nodeId", "node-b1")], bad),
            ("boot from an unconverted volume", "RunInstances",
             [("imageId", free), ("instanceType", "ts.small")], state),
            ("interface in use", "DeleteNetworkInterface", [("NetworkInterfaceId", "eni-web01-0")],
             "InvalidNetworkInterface.InUse"),
            ("address taken", "CreateNetworkInterface", nif + [("privateIpAddress", "10.10.1.21")],
             "InvalidIPAddress.InUse"),
        ]
        for name, action, params, code in cases:
            with self.subTest(name):
                self.refused(action, params, code, 400)
        self.assertEqual(400, self.q.raw("DescribeCloud", version="2010-01-01")[0])
        self.assertIn(b"MissingParameter", self.q.raw("DescribeCloud", version=None)[1])

    def test_concurrent_requests_make_distinct_resources(self):
        with concurrent.futures.ThreadPoolExecutor(8) as pool:
            made = list(pool.map(lambda _: self.new_volume(), range(40)))
        self.assertEqual(40, len(set(made)))
        listed = {v.findtext("volumeId") for v in self.records("DescribeVolumes")}
        self.assertTrue(set(made) <= listed)

    def test_tmp_snapshot_deletion(self):
        """An attached one cannot be deleted; one already gone deletes fine."""
        made = [self.tmp_snapshot(vol) for vol in ("vol-web01-root", "vol-db01-root")]
        self.q.call("AttachTmpSnapshot", [("TmpSnapshotId", made[0]), ("InstanceId", "i-web01")])
        self.refused("DeleteTmpSnapshots", [("TmpSnapshotId.1", made[0])], "IncorrectState")
        self.q.call("DetachTmpSnapshot", [("TmpSnapshotId", made[0])])
        self.q.call("DeleteTmpSnapshots", [("TmpSnapshotId.1", made[0])])
        self.q.call("DeleteTmpSnapshots", [("TmpSnapshotId.1", made[0]),
                                           ("TmpSnapshotId.2", made[1])])
        self.assertEqual([], self.records("DescribeTmpSnapshots"))


if __name__ == "__main__":
    unittest.main()

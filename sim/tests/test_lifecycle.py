"""Lifecycles: every change shows its transitional state on the first poll and its end
state on the next (the number of polls is configurable), and the state rules the
module's flows depend on hold."""

import json
import threading
import unittest

from support import SimTestCase


class Transitions(SimTestCase):
    def test_polls_per_transition_are_configurable(self):
        for polls in (0, 1, 3):
            with self.subTest(polls=polls):
                self.ctl.post("/config", {"transition_polls": polls})
                vol = self.new_volume()
                self.assertEqual(["creating"] * polls + ["available"],
                                 [self.volume(vol) for _ in range(polls + 1)])

    def test_each_wait_sees_one_transitional_poll(self):
        q = self.q
        vol = self.new_volume()
        snap = q.call("CreateSnapshot", [("VolumeId", "vol-web01-root")]
                      ).findtext("snapshotId")
        tmp = q.call("CreateTmpSnapshots", [("VolumeId.1", "vol-db01-data")]
                     ).findtext(".//tmpSnapshotId")
        q.call("StopInstances", [("InstanceId.1", "i-web01")])
        q.call("StartInstances", [("InstanceId.1", "i-cache01")])
        q.call("BackupInstance", [("InstanceId", "i-app01")])
        cases = [
            ("DescribeVolumes", self.filter("volume-id", vol), "status",
             ["creating", "available"]),
            ("DescribeSnapshots", [("InstanceSnapshotId.1", snap)], "status",
             ["pending", "completed"]),
            ("DescribeTmpSnapshots", [("TmpSnapshotId.1", tmp)], "status",
             ["pending", "available"]),
            ("DescribeInstances", self.filter("instance-id", "i-web01"),
             "instanceState/name", ["stopping", "stopped"]),
            ("DescribeInstances", self.filter("instance-id", "i-cache01"),
             "instanceState/name", ["pending", "running"]),
            ("DescribeInstanceBackups", [("InstanceId.1", "i-app01")], "backupStatus",
             ["pending", "complete"]),
        ]
        for action, params, name, expected in cases:
            with self.subTest(action):
                self.assertEqual(expected, [self.field(action, params, name)
                                            for _ in expected])

    def test_volume_attach_and_detach(self):
        self.ctl.post("/config", {"transition_polls": 0})
        vol = self.new_volume()
        self.ctl.post("/config", {"transition_polls": 1})
        att = [("InstanceId", "i-web01"), ("Device", "/dev/vdb"), ("VolumeId", vol)]

        def polls():
            recs = [self.records("DescribeVolumes", self.filter("volume-id", vol))[0]
                    for _ in range(2)]
            return [(r.findtext("status"), r.findtext("attachmentSet/item/status"))
                    for r in recs]
        self.q.call("AttachVolume", att)
        self.assertEqual([("in-use", "attaching"), ("in-use", "attached")], polls())
        self.assertEqual("/dev/vdb", self.volume(vol, "attachmentSet/item/device"))
        self.q.call("DetachVolume", att)
        self.assertEqual([("in-use", "detaching"), ("available", None)], polls())

    def test_temporary_snapshot_round(self):
        self.ctl.post("/config", {"transition_polls": 1})
        tmp = self.q.call("CreateTmpSnapshots", [("VolumeId.1", "vol-web01-root")]
                          ).findtext(".//tmpSnapshotId")
        steps = [(None, None, ["pending", "available"]),
                 ("AttachTmpSnapshot", [("TmpSnapshotId", tmp), ("InstanceId", "i-db01")],
                  ["attaching", "attached"]),
                 ("DetachTmpSnapshot", [("TmpSnapshotId", tmp)],
                  ["detaching", "available"]),
                 ("DeleteTmpSnapshots", [("TmpSnapshotId.1", tmp)], ["deleting", None])]
        for action, params, expected in steps:
            with self.subTest(action):
                if action:
                    self.q.call(action, params)
                self.assertEqual(expected, [
                    self.field("DescribeTmpSnapshots", [("TmpSnapshotId.1", tmp)], "status")
                    for _ in expected])

    def test_move_to_another_node_shows_on_the_next_poll(self):
        self.ctl.post("/config", {"transition_polls": 0})
        vol = self.new_volume(nodeId="node-a1", StorageId="st-localvg-a2")
        self.ctl.post("/config", {"transition_polls": 1})
        self.q.call("ModifyVolumeStorage", [("volumeId", vol),
                                            ("storageId", "st-localvg-a2"),
                                            ("nodeId", "node-a2")])
        self.assertEqual(["node-a1", "node-a2"],
                         [self.volume(vol, "nodeId") for _ in range(2)])


class Rules(SimTestCase):
    config = {"transition_polls": 0}

    def test_refusals(self):
        free = self.new_volume()
        local = self.new_volume(StorageId="st-localvg-a2", nodeId="node-a2")
        cases = [
            ("unknown action", "DescribeFoo", [], "InvalidAction"),
            ("missing parameter", "DeleteVolume", [], "MissingParameter"),
            ("misnamed parameter", "DeleteVolume", [("VolumeID", free)],
             "UnknownParameter"),
            ("misnamed filter", "DescribeVolumes", self.filter("volume_id", "x"),
             "InvalidParameterValue"),
            ("unknown volume", "DeleteVolume", [("VolumeId", "vol-x")],
             "InvalidVolume.NotFound"),
            ("local storage without a node", "CreateVolume",
             [("AvailabilityZone", "cluster-b"), ("Size", "1"),
              ("StorageId", "st-localfs-b1")], "MissingParameter"),
            ("device taken", "AttachVolume", [("InstanceId", "i-db01"),
                                              ("Device", "/dev/vdb"), ("VolumeId", free)],
             "InvalidParameterValue"),
            ("device name without a letter", "AttachVolume",
             [("InstanceId", "i-db01"), ("Device", "/dev/vd{"), ("VolumeId", free)],
             "InvalidParameterValue"),
            ("volume in use", "AttachVolume", [("InstanceId", "i-db01"),
                                               ("Device", "/dev/vdf"),
                                               ("VolumeId", "vol-web01-root")],
             "VolumeInUse"),
            ("local volume on another node", "AttachVolume",
             [("InstanceId", "i-web01"), ("Device", "/dev/vdb"), ("VolumeId", local)],
             "InvalidParameterValue"),
            ("root of a running instance", "DetachVolume",
             [("InstanceId", "i-web01"), ("Device", "/dev/vda"),
              ("VolumeId", "vol-web01-root")], "IncorrectState"),
            ("detach from the wrong instance", "DetachVolume",
             [("InstanceId", "i-web01"), ("Device", "/dev/vdb"),
              ("VolumeId", "vol-db01-data")], "IncorrectState"),
            ("delete an attached volume", "DeleteVolume",
             [("VolumeId", "vol-db01-data")], "VolumeInUse"),
            ("unknown instance", "StartInstances",
             [("InstanceId.1", "i-nothere")], "InvalidInstanceID.NotFound"),
            ("storage full", "CreateVolume", [("AvailabilityZone", "cluster-a"),
                                               ("Size", "3000"),
                                               ("StorageId", "st-ceph-01")],
             "InsufficientStorageCapacity"),
            ("unknown node", "CreateVolume",
             [("AvailabilityZone", "cluster-a"), ("Size", "1"),
              ("StorageId", "st-localfs-b1"), ("nodeId", "node-x")],
             "InvalidNode.NotFound"),
            ("move to a node of another zone", "ModifyVolumeStorage",
             [("volumeId", local), ("storageId", "st-localvg-a2"), ("nodeId", "node-b1")],
             "InvalidParameterValue"),
            ("boot from an unconverted volume", "RunInstances",
             [("imageId", free), ("instanceType", "ts.small")], "IncorrectState"),
            ("interface in use", "DeleteNetworkInterface",
             [("NetworkInterfaceId", "eni-web01-0")], "InvalidNetworkInterface.InUse"),
            ("address taken", "CreateNetworkInterface",
             [("SubnetId", "subnet-prod-a"), ("privateIpAddress", "10.10.1.21")],
             "InvalidIPAddress.InUse"),
            ("address outside the subnet", "CreateNetworkInterface",
             [("SubnetId", "subnet-prod-a"), ("privateIpAddress", "10.10.2.5")],
             "InvalidParameterValue"),
            ("MAC taken", "CreateNetworkInterface",
             [("SubnetId", "subnet-prod-a"), ("MacAddress", "52:54:00:10:01:21")],
             "InvalidMacAddress.InUse"),
        ]
        for name, action, params, code in cases:
            with self.subTest(name):
                self.refused(action, params, code, 400)
        self.assertEqual(400, self.q.raw("DescribeCloud", version="2010-01-01")[0])
        self.assertIn(b"MissingParameter", self.q.raw("DescribeCloud", version=None)[1])

    def test_concurrent_requests_make_distinct_resources(self):
        threads, per_thread = 8, 5
        barrier = threading.Barrier(threads)
        made, failures = [], []

        def worker():
            barrier.wait()
            for _ in range(per_thread):
                try:
                    made.append(self.new_volume())
                except Exception as e:  # reported below, on the test's thread
                    failures.append(e)

        pool = [threading.Thread(target=worker) for _ in range(threads)]
        for t in pool:
            t.start()
        for t in pool:
            t.join(timeout=120)
        self.assertEqual([], failures)
        self.assertEqual(threads * per_thread, len(set(made)))
        listed = {v.findtext("volumeId") for v in self.records("DescribeVolumes")}
        self.assertTrue(set(made) <= listed)

    def test_tmp_snapshot_deletion(self):
        """An attached one cannot be deleted; one already gone deletes fine."""
        made = [self.q.call("CreateTmpSnapshots", [("VolumeId.1", vol)]
                            ).findtext(".//tmpSnapshotId")
                for vol in ("vol-web01-root", "vol-db01-root")]
        self.q.call("AttachTmpSnapshot", [("TmpSnapshotId", made[0]),
                                          ("InstanceId", "i-web01")])
        self.refused("DeleteTmpSnapshots", [("TmpSnapshotId.1", made[0])], "IncorrectState")
        self.q.call("DetachTmpSnapshot", [("TmpSnapshotId", made[0])])
        self.q.call("DeleteTmpSnapshots", [("TmpSnapshotId.1", made[0])])
        self.q.call("DeleteTmpSnapshots", [("TmpSnapshotId.1", made[0]),
                                           ("TmpSnapshotId.2", made[1])])
        self.assertEqual([], self.records("DescribeTmpSnapshots"))

    def test_restore_flow_on_local_storage(self):
        """The restore path: a volume made on the agent's node, moved to the target
        node, converted and booted there; terminating deletes the system disk."""
        q = self.q
        vol = self.new_volume(StorageId="st-localvg-a2", nodeId="node-a2")
        q.call("ModifyVolumeStorage", [("volumeId", vol), ("storageId", "st-localvg-a2"),
                                       ("nodeId", "node-a1")])
        q.call("ConvertVolume", [("VolumeId", vol), ("Architecture", "x86_64"),
                                 ("IsRoot", "true"), ("Platform", "linux"),
                                 ("Contentmode", "raw"), ("Diskbus", "virtio"),
                                 ("AttachDiskbus", "virtio"), ("Bootloader", "bios")])
        nif = q.call("CreateNetworkInterface", [("SubnetId", "subnet-prod-a")]
                     ).findtext(".//networkInterfaceId")
        inst = q.call("RunInstances", [
            ("imageId", vol), ("instanceName", "restored"), ("minCount", "1"),
            ("maxCount", "1"), ("instanceType", "ts.small"),
            ("BlockDeviceMapping.1.Ebs.VolumeSize", "1"),
            ("BlockDeviceMapping.1.Ebs.DeleteOnTermination", "true"),
            ("BlockDeviceMapping.1.DeviceName", "/dev/vda"),
            ("BlockDeviceMapping.1.Ebs.StorageId", "st-localvg-a2"),
            ("AllowNodes.1", "node-a1"),
            ("NetworkInterface.1.NetworkInterfaceId", nif),
            ("NetworkInterface.1.AssociatePublicIpAddress", "true"),
            ("OwnerId", "tavro-owner-0001")]).findtext(".//instanceId")
        got = self.records("DescribeInstances", self.filter("instance-id", inst))[0]
        self.assertEqual(("running", "node-a1", [vol]),
                         (got.findtext("instanceState/name"), got.findtext("hostAddress"),
                          [v.findtext(".//volumeId")
                           for v in got.findall("blockDeviceMapping/item")]))
        self.assertEqual(nif, json.loads(got.findtext("nifInfo"))["nifInfo"][0]["netifId"])
        q.call("TerminateInstances", [("InstanceId.1", inst)])
        q.call("DeleteNetworkInterface", [("NetworkInterfaceId", nif)])
        self.assertIsNone(self.volume(vol))
        self.assertTrue(self.ctl.get("/leftovers")["clean"])


if __name__ == "__main__":
    unittest.main()

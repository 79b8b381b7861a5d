"""Lifecycles: every change shows its transitional state on the first poll and its end
state on the next (the number of polls is configurable), and the state rules the
module's flows depend on hold."""

import json
import threading
import unittest

import support
from support import SimTestCase


class Transitions(SimTestCase):
    def poll_statuses(self, parser, action, params, polls, field="status"):
        return [self.read_ok(parser, action, params).records[0].get(field)
                for _ in range(polls)]

    def create_volume(self, **extra):
        params = dict([("VolumeName", "v"), ("AvailabilityZone", "cluster-a"),
                       ("Size", "1"), ("StorageId", "st-ceph-01")], **extra)
        return self.q.call("CreateVolume", params.items()).findtext("volumeId")

    def test_polls_per_transition_are_configurable(self):
        for polls, expected in [(0, ["available"]),
                                (1, ["creating", "available"]),
                                (3, ["creating"] * 3 + ["available"])]:
            with self.subTest(polls=polls):
                self.ctl.post("/config", {"transition_polls": polls})
                vol = self.create_volume()
                got = self.poll_statuses(support.VOLUMES, "DescribeVolumes",
                                         self.filter("volume-id", vol), len(expected))
                self.assertEqual(expected, got)

    def test_each_wait_sees_one_transitional_poll(self):
        q = self.q
        vol = self.create_volume()
        snap = q.call("CreateSnapshot", [("VolumeId", "vol-web01-root")]
                      ).findtext("snapshotId")
        tmp = q.call("CreateTmpSnapshots", [("VolumeId.1", "vol-db01-data")]
                     ).findtext(".//tmpSnapshotId")
        q.call("StopInstances", [("InstanceId.1", "i-web01")])
        q.call("StartInstances", [("InstanceId.1", "i-cache01")])
        q.call("BackupInstance", [("InstanceId", "i-app01")])
        cases = [
            (support.VOLUMES, "DescribeVolumes", self.filter("volume-id", vol),
             ["creating", "available"]),
            (support.SNAPSHOTS, "DescribeSnapshots", [("InstanceSnapshotId.1", snap)],
             ["pending", "completed"]),
            (support.TMP_SNAPSHOTS, "DescribeTmpSnapshots", [("TmpSnapshotId.1", tmp)],
             ["pending", "available"]),
            (support.INSTANCES, "DescribeInstances", self.filter("instance-id", "i-web01"),
             ["stopping", "stopped"]),
            (support.INSTANCES, "DescribeInstances",
             self.filter("instance-id", "i-cache01"), ["pending", "running"]),
            (support.INSTANCE_BACKUPS, "DescribeInstanceBackups",
             [("InstanceId.1", "i-app01")], ["pending", "complete"]),
        ]
        for parser, action, params, expected in cases:
            with self.subTest(action):
                self.assertEqual(expected, self.poll_statuses(parser, action, params, 2))

    def test_volume_attach_and_detach(self):
        self.ctl.post("/config", {"transition_polls": 0})
        vol = self.create_volume()
        self.ctl.post("/config", {"transition_polls": 1})
        att = [("InstanceId", "i-web01"), ("Device", "/dev/vdb"), ("VolumeId", vol)]
        self.q.call("AttachVolume", att)
        by_id = self.filter("volume-id", vol)
        got = [self.read_ok(support.VOLUMES, "DescribeVolumes", by_id).records[0]
               for _ in range(2)]
        self.assertEqual([("in-use", "attaching", "i-web01", "/dev/vdb"),
                          ("in-use", "attached", "i-web01", "/dev/vdb")],
                         [(v["status"], v["attachment_status"], v["instance_id"],
                           v["device"]) for v in got])
        self.q.call("DetachVolume", att)
        got = [self.read_ok(support.VOLUMES, "DescribeVolumes", by_id).records[0]
               for _ in range(2)]
        self.assertEqual([("in-use", "detaching"), ("available", None)],
                         [(v["status"], v.get("attachment_status")) for v in got])

    def test_temporary_snapshot_round(self):
        self.ctl.post("/config", {"transition_polls": 1})
        tmp = self.q.call("CreateTmpSnapshots", [("VolumeId.1", "vol-web01-root")]
                          ).findtext(".//tmpSnapshotId")
        by_id = [("TmpSnapshotId.1", tmp)]
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
                got = []
                for _ in expected:
                    recs = self.read_ok(support.TMP_SNAPSHOTS, "DescribeTmpSnapshots",
                                        by_id).records
                    got.append(recs[0]["status"] if recs else None)
                self.assertEqual(expected, got)

    def test_move_to_another_node_shows_on_the_next_poll(self):
        self.ctl.post("/config", {"transition_polls": 0})
        vol = self.create_volume(nodeId="node-a1", StorageId="st-localvg-a2")
        self.ctl.post("/config", {"transition_polls": 1})
        self.q.call("ModifyVolumeStorage", [("volumeId", vol),
                                            ("storageId", "st-localvg-a2"),
                                            ("nodeId", "node-a2")])
        got = self.poll_statuses(support.VOLUMES, "DescribeVolumes",
                                 self.filter("volume-id", vol), 2, field="node_id")
        self.assertEqual(["node-a1", "node-a2"], got)


class Rules(SimTestCase):
    config = {"transition_polls": 0}

    def refused(self, action, params, code):
        status, body = self.q.raw(action, params)
        self.assertNotEqual(200, status, body)
        self.assertIn(("<Code>%s</Code>" % code).encode(), body)

    def new_volume(self, **extra):
        params = dict([("AvailabilityZone", "cluster-a"), ("Size", "1"),
                       ("StorageId", "st-ceph-01")], **extra)
        return self.q.call("CreateVolume", params.items()).findtext("volumeId")

    def test_refusals(self):
        free = self.new_volume()
        local = self.new_volume(StorageId="st-localvg-a2", nodeId="node-a2")
        cases = [
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
            ("start a running instance's twin", "StartInstances",
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
                self.refused(action, params, code)

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
        listed = self.read_ok(support.VOLUMES, "DescribeVolumes").records
        self.assertTrue(set(made) <= {v["id"] for v in listed})

    def test_attached_tmp_snapshot_cannot_be_deleted(self):
        tmp = self.q.call("CreateTmpSnapshots", [("VolumeId.1", "vol-db01-root")]
                          ).findtext(".//tmpSnapshotId")
        self.q.call("AttachTmpSnapshot", [("TmpSnapshotId", tmp), ("InstanceId", "i-web01")])
        self.refused("DeleteTmpSnapshots", [("TmpSnapshotId.1", tmp)], "IncorrectState")
        self.q.call("DetachTmpSnapshot", [("TmpSnapshotId", tmp)])
        self.q.call("DeleteTmpSnapshots", [("TmpSnapshotId.1", tmp)])
        self.assertEqual([], self.read_ok(support.TMP_SNAPSHOTS, "DescribeTmpSnapshots",
                                          [("TmpSnapshotId.1", tmp)]).records)

    def test_deleting_a_tmp_snapshot_already_gone_succeeds(self):
        self.ctl.post("/config", {"transition_polls": 0})
        made = [self.q.call("CreateTmpSnapshots", [("VolumeId.1", vol)]
                            ).findtext(".//tmpSnapshotId")
                for vol in ("vol-web01-root", "vol-db01-root")]
        self.q.call("DeleteTmpSnapshots", [("TmpSnapshotId.1", made[0])])
        self.q.call("DeleteTmpSnapshots", [("TmpSnapshotId.1", made[0]),
                                           ("TmpSnapshotId.2", made[1])])
        self.assertEqual([], self.read_ok(support.TMP_SNAPSHOTS, "DescribeTmpSnapshots").records)

    def test_restore_flow_on_local_storage(self):
        """The restore path: a volume made on the agent's node, written, detached,
        moved to the target node, converted and booted there."""
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
        got = self.read_ok(support.INSTANCES, "DescribeInstances",
                           self.filter("instance-id", inst)).records[0]
        self.assertEqual(("running", "node-a1", [{"id": vol, "size": "1"}]),
                         (got["status"], got["host_address"], got["volumes"]))
        self.assertEqual(nif, json.loads(got["nif_info"])["nifInfo"][0]["netifId"])
        # Terminating frees the interface and deletes the system disk with it.
        q.call("TerminateInstances", [("InstanceId.1", inst)])
        q.call("DeleteNetworkInterface", [("NetworkInterfaceId", nif)])
        self.assertEqual([], self.read_ok(support.VOLUMES, "DescribeVolumes",
                                          self.filter("volume-id", vol)).records)
        self.assertTrue(self.ctl.get("/leftovers")["clean"])


if __name__ == "__main__":
    unittest.main()

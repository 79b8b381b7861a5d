"""Injected faults and residual temporary snapshots."""

import unittest

from support import SimTestCase
from cloudsim.client import CallFailed

NEW_VOLUME = [("AvailabilityZone", "cluster-a"), ("Size", "1"), ("StorageId", "st-ceph-01")]


class Faults(SimTestCase):
    def test_error_faults_hit_the_nth_call_of_their_action_only(self):
        cases = [
            ({"action": "DescribeCloud", "nth": 2}, "DescribeCloud", [200, 500, 200]),
            ({"action": "DescribeCloud", "nth": 1, "times": 2, "code": "Unavailable",
              "http_status": 503}, "DescribeCloud", [503, 503, 200]),
            ({"action": "DescribeNodes", "nth": 1}, "DescribeCloud", [200, 200, 200]),
        ]
        for fault, action, expected in cases:
            with self.subTest(fault=fault):
                self.ctl.delete("/faults")
                self.ctl.post("/faults", fault)
                self.assertEqual(expected, [self.q.raw(action)[0] for _ in range(3)])

    def test_error_fault_answers_code_and_message_and_makes_nothing(self):
        self.ctl.post("/faults", {"action": "CreateVolume", "code": "ServerBusy",
                                  "message": "try later", "http_status": 503})
        with self.assertRaises(CallFailed) as cm:
            self.q.call("CreateVolume", NEW_VOLUME)
        self.assertEqual((503, "ServerBusy", "try later"),
                         (cm.exception.status, cm.exception.code, cm.exception.message))
        self.assertTrue(self.ctl.get("/leftovers")["clean"])
        self.assertEqual([{"action": "CreateVolume", "kind": "error", "call": 1}],
                         self.ctl.get("/faults")["fired"])

    def test_disconnect_fault_hangs_up_and_does_nothing(self):
        self.ctl.post("/faults", {"action": "CreateVolume", "kind": "disconnect"})
        params = [("AvailabilityZone", "cluster-a"), ("Size", "1"), ("StorageId", "st-ceph-01")]
        with self.assertRaises(Exception):
            self.q.raw("CreateVolume", params)
        self.assertTrue(self.ctl.get("/leftovers")["clean"])
        self.assertEqual(200, self.q.raw("CreateVolume", params)[0])

    def test_lifecycle_faults(self):
        cases = [
            ({"kind": "end_status", "status": "error"}, ["creating", "error", "error"]),
            ({"kind": "stuck"}, ["creating", "creating", "creating"]),
        ]
        for fault, expected in cases:
            with self.subTest(fault=fault):
                self.ctl.post("/faults", dict(fault, action="CreateVolume"))
                vol = self.q.call("CreateVolume", NEW_VOLUME).findtext("volumeId")
                self.assertEqual(expected, [self.volume(vol) for _ in expected])

    def test_end_status_fault_on_an_attachment(self):
        self.ctl.post("/config", {"transition_polls": 0})
        self.ctl.post("/faults", {"action": "AttachVolume", "kind": "end_status",
                                  "status": "error"})
        att = [("InstanceId", "i-web01"), ("Device", "/dev/vdb"),
               ("VolumeId", "vol-spare-01")]
        self.q.call("AttachVolume", att)
        vol = self.records("DescribeVolumes", self.filter("volume-id", "vol-spare-01"))[0]
        self.assertEqual(("error", "error"), (vol.findtext("status"),
                                              vol.findtext("attachmentSet/item/status")))
        # A failed attachment can still be undone by the caller's clean-up.
        self.q.call("DetachVolume", att)
        self.q.call("DeleteVolume", [("VolumeId", "vol-spare-01")])

    def test_malformed_faults_are_refused(self):
        for fault in [{"nth": 1}, {"action": "DescribeCloud", "kind": "explode"},
                      {"action": "DescribeCloud", "nth": 0},
                      {"action": "CreateVolume", "kind": "end_status"},
                      {"action": "DescribeClouds"}]:
            with self.subTest(fault=fault):
                with self.assertRaises(CallFailed) as cm:
                    self.ctl.post("/faults", fault)
                self.assertEqual(400, cm.exception.status)


class Residue(SimTestCase):
    config = {"transition_polls": 0}

    def test_create_is_refused_naming_the_residue(self):
        for attach_to in (None, "i-agent001"):
            with self.subTest(attach_to=attach_to):
                res = self.ctl.post("/residue", {"volume_id": "vol-db01-root",
                                                 "attach_to": attach_to})
                with self.assertRaises(CallFailed) as cm:
                    self.q.call("CreateTmpSnapshots", [("VolumeId.1", "vol-db01-root")])
                # How the module recovers the id: from the marker up to the first comma.
                message = cm.exception.message
                start = message.index("tmpsnap-")
                self.assertEqual(res["id"], message[start:message.index(",", start)])
                self.assertEqual("attached" if attach_to else "available", self.field(
                    "DescribeTmpSnapshots", [("TmpSnapshotId.1", res["id"])], "status"))
                if attach_to:
                    self.assertEqual(1, len(self.ctl.get("/leftovers")["links"]))
                    self.q.call("DetachTmpSnapshot", [("TmpSnapshotId", res["id"])])
                self.q.call("DeleteTmpSnapshots", [("TmpSnapshotId.1", res["id"])])
                new = self.q.call("CreateTmpSnapshots", [("VolumeId.1", "vol-db01-root")]
                                  ).findtext(".//tmpSnapshotId")
                self.q.call("DeleteTmpSnapshots", [("TmpSnapshotId.1", new)])
                self.assertTrue(self.ctl.get("/leftovers")["clean"])


if __name__ == "__main__":
    unittest.main()

"""Injected faults (what failed calls leave, residual temporary snapshots and faults at
each wait are driven end to end by the fault matrix)."""

import threading
import time
import unittest

from support import SimTestCase
from cloudsim.client import CallFailed


class Faults(SimTestCase):

    def test_error_faults_hit_the_nth_call_of_their_action_only(self):
        cases = [({"action": "DescribeCloud", "nth": 2}, "DescribeCloud", [200, 500, 200]),
                 ({"action": "DescribeCloud", "nth": 1, "times": 2, "code": "Unavailable",
                   "http_status": 503}, "DescribeCloud", [503, 503, 200]),
                 ({"action": "DescribeNodes", "nth": 1}, "DescribeCloud", [200, 200, 200])]
        for fault, action, expected in cases:
            with self.subTest(fault=fault):
                self.ctl.delete("/faults")
                self.ctl.post("/faults", fault)
                self.assertEqual(expected, [self.q.raw(action)[0] for _ in range(3)])

    def test_body_faults_answer_their_text_as_it_is(self):
        self.ctl.post("/faults", {"action": "DescribeCloud", "kind": "body", "body": "<a>\u00e9"})
        self.assertEqual((200, "<a>\u00e9".encode("utf-8")), self.q.raw("DescribeCloud")[:2])
        self.assertEqual(200, self.q.raw("DescribeCloud")[0])

    def test_delay_faults_hold_their_call_while_others_go_on(self):
        """An AttachVolume naming the agent's next free device, held while a temporary
        snapshot is attached there: the snapshot takes that name, and the held call, acting
        on the cloud as it is when let go, is refused."""
        vol, snap = self.new_volume(), self.tmp_snapshot("vol-web01-root")
        self.ctl.post("/settle", {})
        self.ctl.post("/faults", {"action": "AttachVolume", "kind": "delay", "seconds": 1.5})
        held = {}
        attach = threading.Thread(target=lambda: held.update(answer=self.q.raw(
            "AttachVolume", [("InstanceId", "i-agent001"), ("VolumeId", vol),
                             ("Device", "/dev/vdb")])))
        attach.start()
        while not self.ctl.get("/faults")["fired"]:
            time.sleep(0.02)
        self.q.call("AttachTmpSnapshot", [("TmpSnapshotId", snap), ("InstanceId", "i-agent001")])
        self.assertTrue(attach.is_alive())
        attach.join()
        status, body = held["answer"][:2]
        self.assertEqual(400, status, body)
        self.assertIn(b"The device '/dev/vdb' of instance 'i-agent001' is already in use", body)

    def test_malformed_faults_are_refused(self):
        for fault in [{"nth": 1}, {"action": "DescribeCloud", "kind": "explode"},
                      {"action": "DescribeCloud", "nth": 0},
                      {"action": "CreateVolume", "kind": "end_status"},
                      {"action": "DescribeCloud", "kind": "body"},
                      {"action": "DescribeCloud", "kind": "delay"},
                      {"action": "DescribeCloud", "kind": "delay", "seconds": 0},
                      {"action": "DescribeCloud", "kind": "delay", "seconds": 601},
                      {"action": "DescribeCloud", "kind": "delay", "seconds": "1"},
                      {"action": "DescribeCloud", "kind": "delay", "seconds": True},
                      {"action": "DescribeClouds"}]:
            with self.subTest(fault=fault):
                with self.assertRaises(CallFailed) as cm:
                    self.ctl.post("/faults", fault)
                self.assertEqual(400, cm.exception.status)


if __name__ == "__main__":
    unittest.main()

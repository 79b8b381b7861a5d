"""Injected faults (residual temporary snapshots and faults at each wait are driven end
to end against the module's client)."""

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

    def test_malformed_faults_are_refused(self):
        for fault in [{"nth": 1}, {"action": "DescribeCloud", "kind": "explode"},
                      {"action": "DescribeCloud", "nth": 0},
                      {"action": "CreateVolume", "kind": "end_status"},
                      {"action": "DescribeClouds"}]:
            with self.subTest(fault=fault):
                with self.assertRaises(CallFailed) as cm:
                    self.ctl.post("/faults", fault)
                self.assertEqual(400, cm.exception.status)


if __name__ == "__main__":
    unittest.main()

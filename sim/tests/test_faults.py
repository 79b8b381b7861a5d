"""Injected faults (what failed calls leave, residual temporary snapshots and faults at
each wait are driven end to end by the fault matrix)."""

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

    def test_malformed_faults_are_refused(self):
        for fault in [{"nth": 1}, {"action": "DescribeCloud", "kind": "explode"},
                      {"action": "DescribeCloud", "nth": 0},
                      {"action": "CreateVolume", "kind": "end_status"},
                      {"action": "DescribeCloud", "kind": "body"},
                      {"action": "DescribeClouds"}]:
            with self.subTest(fault=fault):
                with self.assertRaises(CallFailed) as cm:
                    self.ctl.post("/faults", fault)
                self.assertEqual(400, cm.exception.status)


if __name__ == "__main__":
    unittest.main()

"""Paging of the two long listings the module pages through (instances and security
groups): nextToken answers, criteria kept with the token, and the repeated-token
fault."""

import unittest

import support
from support import SimTestCase

ALL_INSTANCES = ["i-agent001", "i-web01", "i-app01", "i-db01", "i-cache01"]


class Paging(SimTestCase):
    def walk(self, parser, action, first_params, max_records, limit=10):
        """Follows the pages the way the module does: the first request with its own
        parameters, later ones with MaxRecords and NextToken only."""
        pages = []
        got = self.read_ok(parser, action, first_params)
        pages.append(got)
        while got.response.get("next_token") and len(pages) < limit:
            got = self.read_ok(parser, action, [("MaxRecords", str(max_records)),
                                              ("NextToken", got.response["next_token"])])
            pages.append(got)
        return pages

    def test_page_sizes(self):
        cases = [
            ("one page without paging", None, [], 20, [5]),
            ("default page size two, then pages of twenty", 2, [], 20, [2, 3]),
            ("pages of two throughout", None, [("MaxRecords", "2")], 2, [2, 2, 1]),
            ("pages of one over a zone", None,
             [("MaxRecords", "1")] + self.filter("availability-zone", "cluster-a"), 1,
             [1, 1, 1, 1]),
        ]
        for name, default, first, size, counts in cases:
            with self.subTest(name):
                self.ctl.post("/config", {"default_page_size": default})
                pages = self.walk(support.INSTANCES, "DescribeInstances", first, size)
                self.assertEqual(counts, [len(p.records) for p in pages])
                ids = [r["id"] for p in pages for r in p.records]
                zone = [i for i in ALL_INSTANCES if i != "i-app01"]
                self.assertEqual(zone if "zone" in name else ALL_INSTANCES, ids)
                tokens = [p.response.get("next_token") for p in pages]
                self.assertIsNone(tokens[-1])
                self.assertEqual(len(tokens) - 1, len(set(tokens[:-1])))

    def test_security_groups_page_too(self):
        pages = self.walk(support.SECURITY_GROUPS, "DescribeSecurityGroups",
                          [("MaxRecords", "3")], 3)
        self.assertEqual([3, 1], [len(p.records) for p in pages])
        owner = self.read_ok(support.SECURITY_GROUPS, "DescribeSecurityGroups",
                             self.filter("owner-id", "tavro-owner-0000"))
        self.assertEqual(["sg-shared"], [r["id"] for r in owner.records])

    def test_repeated_token_fault(self):
        self.ctl.post("/faults", {"action": "DescribeInstances", "nth": 2,
                                  "kind": "repeat_token"})
        first = self.read_ok(support.INSTANCES, "DescribeInstances", [("MaxRecords", "2")])
        token = first.response["next_token"]
        second = self.read_ok(support.INSTANCES, "DescribeInstances",
                              [("MaxRecords", "2"), ("NextToken", token)])
        self.assertEqual(token, second.response["next_token"])
        third = self.read_ok(support.INSTANCES, "DescribeInstances",
                             [("MaxRecords", "2"), ("NextToken", token)])
        self.assertNotEqual(token, third.response["next_token"])

    def test_bad_tokens_are_refused(self):
        first = self.read_ok(support.SECURITY_GROUPS, "DescribeSecurityGroups",
                             [("MaxRecords", "1")])
        cases = [("DescribeInstances", "tok-unknown"),
                 ("DescribeInstances", first.response["next_token"])]
        for action, token in cases:
            with self.subTest(token=token):
                status, body = self.q.raw(action, [("MaxRecords", "20"),
                                                   ("NextToken", token)])
                self.assertEqual(400, status)
                self.assertIn(b"InvalidParameterValue", body)
        status, _ = self.q.raw("DescribeInstances", [("MaxRecords", "0")])
        self.assertEqual(400, status)


if __name__ == "__main__":
    unittest.main()

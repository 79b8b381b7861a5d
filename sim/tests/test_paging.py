"""Paging: nextToken answers, criteria kept with the token, refused tokens (both listings
the module pages through, and the repeated-token fault, are driven end to end against
the module's client)."""

import unittest

from support import SimTestCase

ALL_INSTANCES = ["i-agent001", "i-web01", "i-app01", "i-db01", "i-cache01"]


class Paging(SimTestCase):
    def page(self, action, params):
        """(ids listed, next token or None)."""
        root = self.q.call(action, params)
        path = ("./reservationSet/item/instancesSet/item/instanceId"
                if action == "DescribeInstances" else "./securityGroupInfo/item/groupId")
        return [e.text for e in root.findall(path)], root.findtext("nextToken")

    def walk(self, action, first_params, max_records, limit=10):
        """Follows the pages the way the module does: the first request with its own
        parameters, later ones with MaxRecords and NextToken only."""
        pages = [self.page(action, first_params)]
        while pages[-1][1] and len(pages) < limit:
            pages.append(self.page(action, [("MaxRecords", str(max_records)),
                                            ("NextToken", pages[-1][1])]))
        return pages

    def test_page_sizes(self):
        zone = [("Filter.1.Name", "availability-zone"), ("Filter.1.Value.1", "cluster-a")]
        cases = [  # name, page size, more criteria, ids per page
            ("pages of two throughout", 2, [], [2, 2, 1], ALL_INSTANCES),
            ("pages of one over a zone", 1, zone, [1, 1, 1, 1],
             [i for i in ALL_INSTANCES if i != "i-app01"]),
        ]
        for name, size, criteria, counts, ids in cases:
            with self.subTest(name):
                pages = self.walk("DescribeInstances", [("MaxRecords", str(size))] + criteria, size)
                self.assertEqual(counts, [len(p[0]) for p in pages])
                self.assertEqual(ids, [i for p in pages for i in p[0]])
                tokens = [p[1] for p in pages]
                self.assertIsNone(tokens[-1])
                self.assertEqual(len(tokens) - 1, len(set(tokens[:-1])))

    def test_bad_tokens_are_refused(self):
        other = self.page("DescribeSecurityGroups", [("MaxRecords", "1")])[1]
        for token in ("tok-unknown", other):
            with self.subTest(token=token):
                self.refused("DescribeInstances", [("MaxRecords", "20"), ("NextToken", token)],
                             "InvalidParameterValue", 400)
        self.assertEqual(400, self.q.raw("DescribeInstances", [("MaxRecords", "0")])[0])


if __name__ == "__main__":
    unittest.main()

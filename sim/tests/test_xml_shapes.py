"""The answers' XML, read the way the module's parsers read it: every action family
yields the records and fields the module relies on, errors come as the error
document, and misnamed parameters or filters are refused."""

import json
import unittest

import support
from support import AGENT_MAC, SimTestCase


QUERY_ACTIONS = [
    "GetCloudVersion", "DescribeCloud", "DescribeClusters", "DescribeNodes",
    "DescribeInstances", "RunInstances", "TerminateInstances", "StopInstances",
    "StartInstances", "DescribeInstanceTypes", "CreateVolume", "DescribeVolumes",
    "AttachVolume", "DetachVolume", "DeleteVolume", "ConvertVolume",
    "ModifyVolumeStorage", "DescribeImages", "DescribeVpcs", "DescribeSubnets",
    "DescribeSecurityGroups", "DescribeNetworkInterfaces", "CreateNetworkInterface",
    "DeleteNetworkInterface", "DescribeInstanceBackups", "BackupInstance",
    "DeleteInstanceBackup", "DescribeSnapshots", "CreateSnapshot", "DeleteSnapshot",
    "DescribeStorages", "DescribeTmpSnapshots", "CreateTmpSnapshots",
    "AttachTmpSnapshot", "DetachTmpSnapshot", "DeleteTmpSnapshots"]


class Actions(unittest.TestCase):
    def test_the_query_api_has_its_thirty_six_actions(self):
        from cloudsim.actions import ACTIONS
        self.assertEqual(36, len(QUERY_ACTIONS))
        self.assertEqual(sorted(QUERY_ACTIONS), sorted(ACTIONS))


class Describes(SimTestCase):
    def test_answers_open_with_the_declaration_and_the_action_root(self):
        for action in [a for a in QUERY_ACTIONS if a.startswith(("Describe", "Get"))]:
            with self.subTest(action):
                status, body = self.q.raw(action)
                self.assertEqual(200, status, body)
                self.assertTrue(body.startswith(
                    b'<?xml version="1.0" encoding="UTF-8"?>\n<%sResponse ' % action
                    .encode()), body[:120])

    def test_inventory_listings(self):
        cases = [
            (support.CLOUD_VERSION, "GetCloudVersion", [], None,
             lambda r, g: self.assertEqual("V9.8", g.response["version"])),
            (support.CLOUD, "DescribeCloud", [], None,
             lambda r, g: self.assertEqual(("cloud-tavro-demo", "available"),
                                           (g.response["id"], g.response["status"]))),
            (support.CLUSTERS, "DescribeClusters", [], 2, None),
            (support.CLUSTERS, "DescribeClusters", [("clusterId", "cluster-b")], 1,
             lambda r, g: self.assertEqual("Cluster B", r[0]["name"])),
            (support.NODES, "DescribeNodes", [], 3, None),
            (support.NODES, "DescribeNodes", [("ClusterId", "cluster-a")], 2, None),
            (support.NODES, "DescribeNodes", [("NodeId", "node-a2")], 1,
             lambda r, g: self.assertEqual(("cluster-a", "4", "8192"),
                                           (r[0]["cluster_id"], r[0]["cpu_used"],
                                            r[0]["memory_used"]))),
            (support.INSTANCE_TYPES, "DescribeInstanceTypes", [], 4, None),
            (support.INSTANCE_TYPES, "DescribeInstanceTypes",
             [("InstanceType.1", "bm.metal")], 1,
             lambda r, g: self.assertEqual("true", r[0]["is_bare_metal"])),
            (support.IMAGES, "DescribeImages", self.filter("image-id", "img-win2019"), 1,
             lambda r, g: self.assertEqual(("42949672960", "windows", "available"),
                                           (r[0]["size"], r[0]["platform"],
                                            r[0]["status"]))),
            (support.STORAGES, "DescribeStorages", [], 5,
             lambda r, g: self.assertEqual(
                 {"ceph", "nfs_raw", "localfs", "localvg", "tavrohps"},
                 {s["type"] for s in r})),
            (support.VPCS, "DescribeVpcs", self.filter("vpc-id", "vpc-public"), 1,
             lambda r, g: self.assertEqual(("true", "true"),
                                           (r[0]["is_public_network"], r[0]["shared"]))),
            (support.SUBNETS, "DescribeSubnets", self.filter("vpc-id", "vpc-prod"), 2,
             None),
            (support.SECURITY_GROUPS, "DescribeSecurityGroups", [], 4,
             lambda r, g: self.assertEqual(["sg-default", "sg-web", "sg-db",
                                            "sg-shared"], [x["id"] for x in r])),
            (support.NETWORK_INTERFACES, "DescribeNetworkInterfaces",
             [("NetworkInterfaceId.1", "eni-db01-0")], 1,
             lambda r, g: self.assertEqual(
                 [{"id": "sg-db", "name": "database"},
                  {"id": "sg-default", "name": "default"}], r[0]["groups"])),
        ]
        for parser, action, params, count, check in cases:
            with self.subTest(action=action, params=params):
                got = self.read_ok(parser, action, params)
                if count is not None:
                    self.assertEqual(count, len(got.records), got.records)
                if check:
                    check(got.records, got)

    def test_storage_space_counts_its_volumes(self):
        got = self.read_ok(support.STORAGES, "DescribeStorages",
                           self.filter("storage-id", "st-ceph-01"))
        # 120 GiB used before the seeded volumes, plus five volumes of 1 GiB.
        self.assertEqual(("125", "2048"), (got.records[0]["space_used"],
                                          got.records[0]["space_max"]))

    def test_instance_as_the_module_reads_it(self):
        got = self.read_ok(support.INSTANCES, "DescribeInstances",
                           self.filter("instance-id", "i-db01"))
        self.assertEqual(1, len(got.records))
        inst = got.records[0]
        self.assertEqual({"id": "i-db01", "name": "db01", "status": "running",
                          "host_address": "node-a2", "availability_zone": "cluster-a",
                          "instance_type": "ts.large", "cpu": "4", "memory": "8192",
                          "storage_id": "st-ceph-01", "vpc_id": "vpc-prod",
                          "subnet_id": "subnet-prod-a", "ip": "10.10.1.31",
                          "mac_address": "52:54:00:10:01:31"},
                         {k: inst[k] for k in ("id", "name", "status", "host_address",
                                               "availability_zone", "instance_type",
                                               "cpu", "memory", "storage_id", "vpc_id",
                                               "subnet_id", "ip", "mac_address")})
        self.assertEqual([{"id": "vol-db01-root", "size": "1"},
                          {"id": "vol-db01-data", "size": "1"},
                          {"id": "vol-db01-log", "size": "1"}], inst["volumes"])
        nifs = json.loads(inst["nif_info"])["nifInfo"]
        self.assertEqual(["main", "extend"], [n["netifType"] for n in nifs])
        for nif in nifs:
            self.assertEqual({"netifId", "netifType", "privateip", "publicip",
                              "priSubnetId"}, set(nif))
        self.assertEqual(("sg-db", "database", "tavro-owner-0001"),
                         (got.response["group_id"], got.response["group_name"],
                          got.response["owner_id"]))

    def test_every_instance_is_one_record_and_the_agent_has_this_machines_mac(self):
        got = self.read_ok(support.INSTANCES, "DescribeInstances")
        self.assertEqual(["i-agent001", "i-web01", "i-app01", "i-db01", "i-cache01"],
                         [r["id"] for r in got.records])
        self.assertEqual(AGENT_MAC, got.records[0]["mac_address"])
        self.assertEqual("stopped", got.records[-1]["status"])
        self.assertNotIn("next_token", got.response)

    def test_instance_filters(self):
        cases = [("availability-zone", "cluster-b", ["i-app01"]),
                 ("node-id", "node-a2", ["i-db01", "i-cache01"]),
                 ("instance-name", "web01", ["i-web01"]),
                 ("instance-name", "nobody", [])]
        for name, value, ids in cases:
            with self.subTest(name=name, value=value):
                got = self.read_ok(support.INSTANCES, "DescribeInstances",
                                   self.filter(name, value))
                self.assertEqual(ids, [r["id"] for r in got.records])

    def test_volume_attachment_fields(self):
        got = self.read_ok(support.VOLUMES, "DescribeVolumes",
                           self.filter("attachment.instance-id", "i-db01"))
        self.assertEqual([("vol-db01-root", "/dev/vda", "true", "node-a2"),
                          ("vol-db01-data", "/dev/vdb", "false", "node-a2"),
                          ("vol-db01-log", "/dev/vdc", "false", "node-a2")],
                         [(v["id"], v["device"], v["is_root"], v["node_id"])
                          for v in got.records])
        for v in got.records:
            self.assertEqual(("in-use", "attached", "i-db01"),
                             (v["status"], v["attachment_status"], v["instance_id"]))
        spare = self.read_ok(support.VOLUMES, "DescribeVolumes",
                             self.filter("volume-id", "vol-spare-01")).records
        self.assertEqual("available", spare[0]["status"])
        self.assertNotIn("instance_id", spare[0])

    def test_queries_of_unknown_ids_answer_empty_listings(self):
        cases = [(support.VOLUMES, "DescribeVolumes", self.filter("volume-id", "vol-x")),
                 (support.INSTANCES, "DescribeInstances",
                  self.filter("instance-id", "i-x")),
                 (support.TMP_SNAPSHOTS, "DescribeTmpSnapshots",
                  [("TmpSnapshotId.1", "tmpsnap-x")]),
                 (support.SNAPSHOTS, "DescribeSnapshots",
                  [("InstanceSnapshotId.1", "snap-x")]),
                 (support.NODES, "DescribeNodes", [("NodeId", "node-x")]),
                 (support.INSTANCE_BACKUPS, "DescribeInstanceBackups",
                  [("InstanceId.1", "i-web01")])]
        for parser, action, params in cases:
            with self.subTest(action):
                self.assertEqual([], self.read_ok(parser, action, params).records)


class Errors(SimTestCase):
    def test_error_documents(self):
        cases = [
            ("DescribeFoo", [], 400, "InvalidAction"),
            ("DeleteVolume", [("VolumeId", "vol-nothere")], 400, "InvalidVolume.NotFound"),
            ("DeleteVolume", [], 400, "MissingParameter"),
            ("DeleteVolume", [("VolumeID", "vol-web01-root")], 400, "UnknownParameter"),
            ("DescribeVolumes", self.filter("volume_id", "x"), 400,
             "InvalidParameterValue"),
            ("DescribeInstances", [("InstanceId.1", "i-nothere")], 400,
             "InvalidInstanceID.NotFound"),
            ("DeleteVolume", [("VolumeId", "vol-web01-root")], 400, "VolumeInUse"),
            ("CreateVolume", [("VolumeName", "x"), ("AvailabilityZone", "cluster-b"),
                              ("Size", "1"), ("StorageId", "st-localfs-b1")], 400,
             "MissingParameter"),
        ]
        parser = support.result_parser("DeleteVolume")
        for action, params, status, code in cases:
            with self.subTest(action=action, code=code):
                got_status, body = self.q.raw(action, params)
                self.assertEqual(status, got_status)
                self.assertTrue(body.startswith(b'<?xml version="1.0"'))
                self.assertIn(("<Response><Errors><Error><Code>%s</Code><Message>" % code)
                              .encode(), body)
                parsed = parser.parse(body)
                self.assertTrue(parsed.message)
                self.assertEqual(0, parsed.roots)

    def test_wrong_api_version_is_refused(self):
        status, body = self.q.raw("DescribeCloud", version="2010-01-01")
        self.assertEqual(400, status)
        status, body = self.q.raw("DescribeCloud", version=None)
        self.assertIn(b"MissingParameter", body)


class Creates(SimTestCase):
    """Each create answer carries the new id where the module's create parser finds it,
    and that id names a resource the describe actions list."""
    config = {"transition_polls": 0}

    def test_create_answers(self):
        nif = self.read_ok(support.create_parser("CreateNetworkInterfaceResponse",
                                               "networkInterfaceId"),
                           "CreateNetworkInterface",
                           [("SubnetId", "subnet-prod-b"), ("SecurityGroupId.1", "sg-web"),
                            ("privateIpAddress", "10.10.2.99")]).response["id"]
        got = self.read_ok(support.NETWORK_INTERFACES, "DescribeNetworkInterfaces",
                           [("NetworkInterfaceId.1", nif)]).records
        self.assertEqual(("10.10.2.99", "available"), (got[0]["private_ip"],
                                                       got[0]["status"]))
        vol = self.read_ok(support.create_parser("CreateVolumeResponse", "volumeId"),
                           "CreateVolume",
                           [("VolumeName", "restored"), ("AvailabilityZone", "cluster-a"),
                            ("Size", "1"), ("StorageId", "st-ceph-01")]).response["id"]
        snap = self.read_ok(support.create_parser("CreateSnapshotResponse", "snapshotId"),
                            "CreateSnapshot", [("VolumeId", "vol-web01-root"),
                                               ("SnapshotName", "s1")]).response["id"]
        tmps = self.read_ok(support.CREATE_TMP_SNAPSHOTS, "CreateTmpSnapshots",
                            [("VolumeId.1", "vol-web01-root")]).records
        backup = self.read_ok(support.create_parser("BackupInstanceResponse", "backupId"),
                              "BackupInstance", [("InstanceId", "i-web01")]
                              ).response["id"]
        inst = self.read_ok(support.create_parser("RunInstancesResponse", "instanceId"),
                            "RunInstances",
                            [("imageId", snap), ("instanceName", "copy"),
                             ("minCount", "1"), ("maxCount", "1"),
                             ("instanceType", "ts.small"),
                             ("BlockDeviceMapping.1.Ebs.VolumeSize", "1"),
                             ("BlockDeviceMapping.1.Ebs.DeleteOnTermination", "true"),
                             ("BlockDeviceMapping.1.DeviceName", "/dev/vda"),
                             ("BlockDeviceMapping.1.Ebs.StorageId", "st-ceph-01"),
                             ("AllowNodes.1", "node-a1"),
                             ("NetworkInterface.1.NetworkInterfaceId", nif),
                             ("NetworkInterface.1.AssociatePublicIpAddress", "true")]
                            ).response["id"]
        self.assertEqual(1, len(tmps))
        self.assertTrue(tmps[0]["id"].startswith("tmpsnap-"))
        for parser, action, params in [
                (support.VOLUMES, "DescribeVolumes", self.filter("volume-id", vol)),
                (support.SNAPSHOTS, "DescribeSnapshots", [("InstanceSnapshotId.1", snap)]),
                (support.TMP_SNAPSHOTS, "DescribeTmpSnapshots",
                 [("TmpSnapshotId.1", tmps[0]["id"])]),
                (support.INSTANCE_BACKUPS, "DescribeInstanceBackups",
                 [("InstanceId.1", "i-web01")]),
                (support.INSTANCES, "DescribeInstances", self.filter("instance-id", inst))]:
            with self.subTest(action):
                self.assertEqual(1, len(self.read_ok(parser, action, params).records))
        self.assertTrue(backup.startswith("ib-"))

    def test_result_and_state_answers(self):
        self.assertEqual("true", self.read_ok(support.result_parser("DeleteVolume"),
                                              "DeleteVolume",
                                              [("VolumeId", "vol-spare-01")]
                                              ).response["return"])
        stop = self.read_ok(support.operate_instance("StopInstances"), "StopInstances",
                            [("InstanceId.1", "i-web01")]).response
        self.assertEqual(("64", "stopping"), (stop["code"], stop["name"]))
        start = self.read_ok(support.operate_instance("StartInstances"),
                             "StartInstances", [("InstanceId.1", "i-cache01")]).response
        self.assertEqual(("0", "pending"), (start["code"], start["name"]))
        attach = self.read_ok(support.operate_volume("AttachVolume"), "AttachVolume",
                              [("InstanceId", "i-web01"), ("Device", "/dev/vdb"),
                               ("VolumeId", self._new_volume())]).response
        self.assertEqual("attaching", attach["status"])
        term = self.read_ok(support.DELETE_INSTANCE, "TerminateInstances",
                            [("InstanceId.1", "i-cache01")]).response
        self.assertEqual(("32", "shutting-down"), (term["code"], term["name"]))

    def test_terminate_answers_shutting_down_whatever_the_lifecycle(self):
        term = self.read_ok(support.DELETE_INSTANCE, "TerminateInstances",
                            [("InstanceId.1", "i-web01")]).response
        self.assertEqual("shutting-down", term["name"])
        got = self.read_ok(support.INSTANCES, "DescribeInstances",
                           self.filter("instance-id", "i-web01")).records
        self.assertEqual("terminated", got[0]["status"])

    def _new_volume(self):
        return self.read_ok(support.create_parser("CreateVolumeResponse", "volumeId"),
                            "CreateVolume", [("AvailabilityZone", "cluster-a"),
                                             ("Size", "1"),
                                             ("StorageId", "st-ceph-01")]).response["id"]

    def test_instance_backup_mappings_json(self):
        self.q.call("BackupInstance", [("InstanceId", "i-db01")])
        got = self.read_ok(support.INSTANCE_BACKUPS, "DescribeInstanceBackups",
                           [("InstanceId.1", "i-db01")]).records
        self.assertEqual(("complete", "3", "st-ceph-01"),
                         (got[0]["status"], got[0]["size"], got[0]["storage_id"]))
        maps = json.loads(got[0]["mappings"])
        self.assertEqual(["/dev/vda", "/dev/vdb", "/dev/vdc"],
                         [m["deviceName"] for m in maps])
        self.assertEqual([True, False, False], [m["isRoot"] for m in maps])
        for m in maps:
            self.assertIsInstance(m["snapshotId"], str)
            self.assertIsInstance(m["size"], int)
            self.assertIsInstance(m["deleteOnTermination"], bool)


if __name__ == "__main__":
    unittest.main()

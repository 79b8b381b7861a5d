"""Shared pieces of the simulator's tests: a simulator per test (loopback, a private
device root, link-mode devices unless a test asks for loop devices) and a reader that
reads answers the way the backup module's event-driven parsers do, so a test sees
exactly what the module would see."""

import os
import shutil
import sys
import tempfile
import unittest
import xml.sax

SIM_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
if SIM_DIR not in sys.path:
    sys.path.insert(0, SIM_DIR)

from cloudsim.client import ControlClient, QueryClient  # noqa: E402
from cloudsim.server import Simulator  # noqa: E402
from cloudsim.state import Config  # noqa: E402

SEED = os.path.join(SIM_DIR, "seed.json")
ACCESS_KEY = "AKIDTAVROSIMDEMO0001"
SECRET = "tavrosim/Demo+Secret/Key0001"
AGENT_MAC = "02:00:00:00:00:aa"


class SimTestCase(unittest.TestCase):
    loop_mode = "link"
    config = None

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="tavrosim-test-")
        self.dev_root = os.path.join(self.tmp, "dev")
        self.sim = Simulator(seed=SEED, loop_mode=self.loop_mode, dev_root=self.dev_root,
                             data_dir=os.path.join(self.tmp, "data"),
                             config=Config(**(self.config or {})),
                             dmi_path=os.path.join(self.tmp, "no-dmi"),
                             agent_mac=AGENT_MAC)
        self.sim.start()
        self.q = QueryClient("127.0.0.1", self.sim.port, ACCESS_KEY, SECRET)
        self.ctl = ControlClient("127.0.0.1", self.sim.port)

    def tearDown(self):
        self.sim.stop()
        shutil.rmtree(self.tmp, ignore_errors=True)

    def read(self, parser, action, params=()):
        """(HTTP status, what the module's parser for `parser` reads from the answer)."""
        status, body = self.q.raw(action, params)
        return status, parser.parse(body)

    def read_ok(self, parser, action, params=()):
        status, got = self.read(parser, action, params)
        self.assertEqual(200, status, got.message)
        return got

    def filter(self, name, value):
        return [("Filter.1.Name", name), ("Filter.1.Value.1", value)]


# ---- the module's parsers, as data -----------------------------------------------------
class Parsed:
    def __init__(self):
        self.records = []
        self.response = {}
        self.message = ""
        self.roots = 0


class ParserModel:
    """One response parser: its root elements, its text elements and where their text
    goes, its set elements (state on open, state on close) and which states make an
    "item" start a record or a sub-record.

    A text target is "field" (last record), "@field" (response level),
    "sub.field" (last sub-record of the last record), or a function of the state
    giving one of those or None (text dropped)."""

    def __init__(self, roots, texts, sets=None, items=None, known=(), nested_states=()):
        self.roots = set(roots)
        self.nested_states = set(nested_states)  # states whose nested items are read
        self.texts = dict(texts)
        self.sets = dict(sets or {})
        self.items = items
        self.known = (set(self.roots) | set(self.texts) | set(self.sets) | {"item"}
                      | {"Error", "Message"} | set(known))

    def parse(self, body):
        handler = _Emulator(self)
        xml.sax.parseString(body, handler)
        return handler.out


class _Emulator(xml.sax.ContentHandler):
    def __init__(self, parser):
        super().__init__()
        self.parser = parser
        self.open = set()
        self.state = 0
        self.out = Parsed()
        self.text = None
        # What each open item is: "record", "sub" (a sub-record), "nested" (an item of
        # another list inside a record) or "outer" (outside any record).
        self.items = []

    def startElement(self, name, attrs):
        self._flush()
        parser = self.parser
        if name not in parser.known:
            return
        if not self.open and name not in parser.roots and name != "Error":
            return
        if name in parser.roots:
            self.out.records, self.out.response = [], {}
            self.out.roots += 1
            self.state = 0
        elif name == "Error":
            self.out.message = ""
        elif name in parser.sets:
            self.state = parser.sets[name][0]
        elif name == "item":
            self._item()
        self.open.add(name)

    def _item(self):
        rule = self.parser.items
        target = rule(self.state) if callable(rule) else ("record" if rule is None
                                                          else None)
        in_record = "record" in self.items
        if target == "record" and not in_record:
            self.out.records.append({})
            kind = "record"
        elif target and target != "record" and in_record and self.out.records:
            self.out.records[-1].setdefault(target, []).append({})
            kind = "sub"
        else:
            kind = "nested" if in_record else "outer"
        self.items.append(kind)

    def characters(self, content):
        self.text = (self.text or "") + content

    def endElement(self, name):
        # Like the module's open-element bit set: a closing known element clears its
        # bit (also for nested namesakes) and leaves its set's state.
        self._flush()
        if name in self.parser.known:
            if name == "item" and self.items:
                self.items.pop()
            self.open.discard(name)
            if name in self.parser.sets:
                self.state = self.parser.sets[name][1]

    def _flush(self):
        text, self.text = self.text, None
        if not text:
            return
        opened = [n for n in self.open if n in self.parser.texts or n == "Message"]
        if len(opened) != 1:
            return
        name = opened[0]
        if name == "Message":
            self.out.message = text
            return
        target = self.parser.texts[name]
        if callable(target):
            target = target(self.state)
        if target is None:
            return
        inner = self.items[-1] if self.items else "outer"
        if (inner == "nested" and self.state not in self.parser.nested_states) or \
                (inner == "sub" and "." not in target):
            return  # texts of nested lists never fill the record's own fields
        if target.startswith("@"):
            self.out.response[target[1:]] = text
        elif not self.out.records:
            return
        elif "." in target:
            sub, field = target.split(".", 1)
            subs = self.out.records[-1].get(sub)
            if subs:
                subs[-1][field] = text
        else:
            self.out.records[-1][target] = text


def result_parser(action):
    return ParserModel([action + "Response"], {"return": "@return"})


INSTANCES = ParserModel(
    ["DescribeInstancesResponse"],
    {"nextToken": "@next_token", "mainNetifMac": "mac_address", "ownerId": "@owner_id",
     "groupId": "@group_id", "groupName": "@group_name", "instanceId": "id",
     "instanceName": "name", "imageId": "image_id", "name": "status",
     "ipAddress": "ip", "instanceType": "instance_type", "vmtype_cpu": "cpu",
     "vmtype_mem": "memory", "hostAddress": "host_address",
     "availabilityZone": "availability_zone", "subnetId": "subnet_id",
     "vpcId": "vpc_id", "storageId": "storage_id", "volumeId": "volumes.id",
     "platform": "platform", "hypervisor": "hypervisor", "nifInfo": "nif_info",
     "bootOrder": "bootorder", "size": lambda s: "volumes.size" if s == 3 else None,
     "scheduleTags": "schedule_tag", "storageScheduleTags": "storage_schedule_tag"},
    sets={"instancesSet": (1, 0), "blockDeviceMapping": (3, 1),
          "productCodesSet": (2, 1)},
    items=lambda s: {1: "record", 3: "volumes"}.get(s))

VOLUMES = ParserModel(
    ["DescribeVolumesResponse"],
    {"volumeId": "id", "volumeName": "name", "size": "size",
     "status": lambda s: {1: "status", 2: "attachment_status"}.get(s),
     "isRoot": "is_root", "storageId": "storage_id",
     "availabilityZone": "availability_zone", "instanceId": "instance_id",
     "device": "device", "nodeId": "node_id"},
    sets={"volumeSet": (1, 0), "attachmentSet": (2, 1), "tagSet": (3, 1)},
    items=lambda s: "record" if s == 1 else None, nested_states=[2])

SNAPSHOTS = ParserModel(["DescribeSnapshotsResponse"],
                       {"snapshotId": "id", "snapshotName": "name",
                        "volumeId": "volume_id", "status": "status"},
                       known=["snapshotSet"])

TMP_SNAPSHOTS = ParserModel(["DescribeTmpSnapshotsResponse"],
                           {"tmpSnapshotId": "id", "tmpSnapshotName": "name",
                            "volumeId": "volume_id", "status": "status",
                            "attachInstanceId": "attach_instance_id"},
                           known=["tmpSnapshotSet"])

IMAGES = ParserModel(["DescribeImagesResponse"],
                    {"imageId": "id", "name": "name", "imageLocation": "location",
                     "architecture": "architecture", "imageSize": "size",
                     "hypervisor": "hypervisor", "bootloader": "bootloader",
                     "contentmode": "contentmode", "diskBus": "disk_bus",
                     "platform": "platform", "imageState": "status"})

STORAGES = ParserModel(
    ["DescribeStoragesResponse"],
    {"storageId": "id", "storageName": "name", "storageType": "type",
     "location": "location", "fileFormat": "file_format", "disabled": "disable",
     "logicSpaceUsed": "logic_space_used", "logicSpaceMax": "logic_space_max",
     "spaceUsed": "space_used", "spaceMax": "space_max"},
    sets={"storageSet": (1, 0), "parameterSet": (2, 1)},
    items=lambda s: "record" if s == 1 else None)

INSTANCE_BACKUPS = ParserModel(
    ["DescribeInstanceBackupsResponse"],
    {"backupId": "id", "instanceId": "instance_id", "backupName": "name",
     "backupSize": "size", "backupStatus": "status", "storageId": "storage_id",
     "blockDeviceMapping": "mappings"})

CLOUD_VERSION = ParserModel(["getCloudVersionResult"], {"version": "@version"})
CLOUD = ParserModel(["DescribeCloudResponse"], {"cloudName": "@name", "cloudId": "@id",
                                              "status": "@status"})
CLUSTERS = ParserModel(["DescribeClustersResponse"],
                      {"clusterId": "id", "clusterName": "name", "status": "status"},
                      sets={"clusterSet": (1, 0), "clusterControllerSet": (2, 1)},
                      items=lambda s: "record" if s == 1 else None)
NODES = ParserModel(["DescribeNodesResponse"],
                   {"nodeId": "id", "nodeName": "name", "hostId": "host_id",
                    "clusterId": "cluster_id", "status": "status",
                    "cpuCores": "cpu_cores", "cpuSockets": "cpu_sockets",
                    "cpuMax": "cpu_max", "cpuUsed": "cpu_used",
                    "memoryMax": "memory_max", "memoryUsed": "memory_used",
                    "ip": "ip", "mac": "mac"})
INSTANCE_TYPES = ParserModel(["DescribeInstanceTypesResponse"],
                            {"instanceType": "type", "displayName": "display_name",
                             "cpu": "cpu", "ram": "ram", "disk": "disk", "max": "max",
                             "available": "available", "isBareMetal": "is_bare_metal"})
VPCS = ParserModel(["DescribeVpcsResponse"],
                  {"vpcId": "id", "state": "status", "cidrBlock": "cidr_block",
                   "vpcName": "name", "isPublicNetwork": "is_public_network",
                   "shared": "shared", "ownerId": "owner_id"}, known=["vpcSet"])
SUBNETS = ParserModel(["DescribeSubnetsResponse"],
                     {"subnetId": "id", "subnetName": "name", "state": "status",
                      "cidrBlock": "cidr_block", "vpcId": "vpc_id"},
                     known=["subnetSet"])
SECURITY_GROUPS = ParserModel(
    ["DescribeSecurityGroupsResponse"],
    {"ownerId": "owner_id", "groupId": "id", "groupName": "name", "shared": "shared",
     "nextToken": "@next_token"},
    sets={"securityGroupInfo": (1, 0), "ipPermissions": (2, 1),
          "ipPermissionsEgress": (3, 1), "ipRanges": (4, 2),
          "complexIpPermissions": (5, 1), "ipProtocols": (6, 5), "groups": (7, 5),
          "complexIpPermissionsEgress": (8, 1)},
    items=lambda s: "record" if s == 1 else None)
NETWORK_INTERFACES = ParserModel(
    ["DescribeNetworkInterfacesResponse"],
    {"networkInterfaceId": "id", "subnetId": "subnet_id", "vpcId": "vpc_id",
     "ownerId": "owner_id", "status": "status", "macAddress": "mac_addr",
     "privateIpAddress": "private_ip", "groupId": "groups.id",
     "groupName": "groups.name"},
    sets={"networkInterfaceSet": (1, 0), "groupSet": (2, 1),
          "privateIpAddressesSet": (3, 1)},
    items=lambda s: {1: "record", 2: "groups"}.get(s))


def create_parser(root, element):
    return ParserModel([root], {element: "@id"})


CREATE_TMP_SNAPSHOTS = ParserModel(["CreateTmpSnapshotsResponse"],
                                  {"tmpSnapshotId": "id"})
DELETE_INSTANCE = ParserModel(["TerminateInstancesResponse"],
                             {"code": lambda s: "@code" if s == 1 else None,
                              "name": lambda s: "@name" if s == 1 else None},
                             sets={"shutdownState": (1, 0), "currentState": (1, 0)})


def operate_instance(action):
    return ParserModel([action + "Response"],
                      {"code": lambda s: "@code" if s == 1 else None,
                       "name": lambda s: "@name" if s == 1 else None},
                      sets={"currentState": (1, 0), "previousState": (2, 0)})


def operate_volume(action):
    return ParserModel([action + "Response"], {"status": "@status"})


DELETE_INSTANCE_BACKUP = ParserModel(["DeleteInstanceBackupResponse"],
                                    {"deleteInstanceBackupResult": "@result"})

"""Loading the cloud from a seed (a JSON document; see sim/seed.json for the layout).

The instance marked "agent" becomes the backup agent: its id is the one the module
derives from this machine's DMI product identifier when there is one, and its main
network interface carries this machine's MAC, so the module finds its own instance
whichever way it looks."""

import json

from . import backing, netinfo
from .model import (Attachment, Cluster, Image, Instance, InstanceType, NetworkInterface,
                    Node, SecurityGroup, Storage, Subnet, Volume, Vpc)


class SeedError(ValueError):
    pass


def load_file(path):
    with open(path, "r") as f:
        try:
            return json.load(f)
        except ValueError as e:  # also text that is not UTF-8
            raise SeedError("%s is not JSON: %s" % (path, e)) from None


def _req(entry, key, what):
    if key not in entry or entry[key] in ("", None):
        raise SeedError("%s lacks '%s': %s" % (what, key, json.dumps(entry)))
    return entry[key]


def _entries(data, name, what="the seed"):
    entries = data.get(name, [])
    if not isinstance(entries, list) or not all(isinstance(e, dict) for e in entries):
        raise SeedError("%s: '%s' must be a list of objects" % (what, name))
    return entries


def _whole(entry, key, default, what, least=0, unit=""):
    """A count or size of the seed: a whole number of at least `least` (JSON has no
    integer type, so 1.5, "2" or true would pass as numbers until a request uses them)."""
    value = entry.get(key, default)
    if isinstance(value, bool) or not isinstance(value, int) or value < least:
        raise SeedError("%s: '%s' must be a whole number%s of at least %d, not %s"
                        % (what, key, unit, least, json.dumps(value)))
    return value


def _text_map(value, what):
    if not isinstance(value, dict) or not all(isinstance(k, str) and isinstance(v, str)
                                              for k, v in value.items()):
        raise SeedError("%s must map names to strings, not %s" % (what, json.dumps(value)))
    return value


def _check_ref(state, store, ident, what):
    if ident not in getattr(state, store):
        raise SeedError("%s names unknown %s '%s'" % (what, store, ident))
    return ident


class SeedLoader:
    def __init__(self, state, dmi_path=netinfo.DMI_PATH, agent_mac=None):
        self.state = state
        self.dmi_path = dmi_path
        self.agent_mac = agent_mac

    def load(self, data):
        """Replaces the whole cloud by the seed's (configuration and accounts too)."""
        if not isinstance(data, dict):
            raise SeedError("a seed is a JSON object, not %s" % type(data).__name__)
        st = self.state
        st.clear()
        try:
            st.config.update(data.get("config", {}))
        except (AttributeError, ValueError) as e:
            raise SeedError("config: %s" % e) from None
        st.accounts.update(_text_map(data.get("accounts", {}), "the seed's accounts"))
        cloud = data.get("cloud", {})
        st.cloud.id = cloud.get("id", st.cloud.id)
        st.cloud.name = cloud.get("name", st.cloud.name)
        st.cloud.status = cloud.get("status", st.cloud.status)
        for name in ("clusters", "nodes", "storages", "instance_types", "images", "vpcs",
                     "subnets", "security_groups", "network_interfaces"):
            for entry in _entries(data, name):
                getattr(self, "_" + name)(entry)
        for entry in _entries(data, "instances"):
            self._instance(entry)
        for entry in _entries(data, "volumes"):
            self._volume(entry, None, None)

    def _clusters(self, e):
        self.state.add("clusters", Cluster(id=_req(e, "id", "cluster"),
                                           name=e.get("name", e["id"]),
                                           status=e.get("status", "available")))

    def _nodes(self, e):
        ident = _req(e, "id", "node")
        self.state.add("nodes", Node(
            id=ident, name=e.get("name", ident), host_id=e.get("host_id", "host-" + ident),
            cluster_id=_check_ref(self.state, "clusters", _req(e, "cluster", "node"),
                                  "node " + ident),
            status=e.get("status", "available"), ip=e.get("ip", ""), mac=e.get("mac", ""),
            **{key: _whole(e, key, default, "node " + ident) for key, default in (
                ("cpu_cores", 16), ("cpu_sockets", 2), ("cpu_max", 32), ("cpu_used", 0),
                ("memory_max", 65536), ("memory_used", 0))}))

    def _storages(self, e):
        ident = _req(e, "id", "storage")
        what = "storage " + ident
        space = _whole(e, "space_max", 1024, what, unit=" of GiB")
        self.state.add("storages", Storage(
            id=ident, name=e.get("name", ident), type=_req(e, "type", "storage"),
            status=e.get("status", "available"), location=e.get("location", ""),
            file_format=e.get("file_format", "raw"), disabled=e.get("disabled", False),
            space_max=space, base_used=_whole(e, "space_used", 0, what, unit=" of GiB"),
            logic_space_max=_whole(e, "logic_space_max", space, what, unit=" of GiB"),
            logic_space_used=_whole(e, "logic_space_used", 0, what, unit=" of GiB"),
            parameters=_text_map(e.get("parameters", {}), what + " parameters")))

    def _instance_types(self, e):
        ident = _req(e, "id", "instance type")
        self.state.add("instance_types", InstanceType(
            id=ident, display_name=e.get("display_name", ident),
            bare_metal=e.get("bare_metal", False),
            **{key: _whole(e, key, default, "instance type " + ident) for key, default in (
                ("cpu", 1), ("ram", 1024), ("disk", 20), ("max", 100), ("available", 100))}))

    def _images(self, e):
        ident = _req(e, "id", "image")
        img = Image(id=ident, status=e.get("status", "available"),
                    name=e.get("name", ident), location=e.get("location", ""),
                    size=_whole(e, "size", backing.GIB, "image " + ident, unit=" of bytes"),
                    tags=dict(e.get("tags", {})))
        for key in ("architecture", "hypervisor", "bootloader", "contentmode",
                    "disk_bus", "platform"):
            if key in e:
                setattr(img, key, e[key])
        self.state.add("images", img)

    def _vpcs(self, e):
        ident = _req(e, "id", "vpc")
        self.state.add("vpcs", Vpc(
            id=ident, name=e.get("name", ident), status=e.get("status", "available"),
            cidr=_req(e, "cidr", "vpc"), public=e.get("public", False),
            shared=e.get("shared", False),
            owner_id=e.get("owner_id", self.state.config.owner_id),
            tags=dict(e.get("tags", {}))))

    def _subnets(self, e):
        ident = _req(e, "id", "subnet")
        self.state.add("subnets", Subnet(
            id=ident, name=e.get("name", ident), status=e.get("status", "available"),
            vpc_id=_check_ref(self.state, "vpcs", _req(e, "vpc", "subnet"),
                              "subnet " + ident),
            cidr=_req(e, "cidr", "subnet"), zone=e.get("zone", "")))

    def _security_groups(self, e):
        ident = _req(e, "id", "security group")
        self.state.add("security_groups", SecurityGroup(
            id=ident, name=e.get("name", ident), description=e.get("description", ""),
            owner_id=e.get("owner_id", self.state.config.owner_id),
            vpc_id=e.get("vpc", ""), shared=e.get("shared", False)))

    def _network_interfaces(self, e, ident=None):
        st = self.state
        ident = ident or e.get("id") or st.new_id("eni")
        subnet = _check_ref(st, "subnets", _req(e, "subnet", "network interface"),
                            "network interface " + ident)
        for g in e.get("groups", []):
            _check_ref(st, "security_groups", g, "network interface " + ident)
        return st.add("network_interfaces", NetworkInterface(
            id=ident, status=e.get("status", "available"), subnet_id=subnet,
            group_ids=list(e.get("groups", [])), mac=e.get("mac", "").lower(),
            private_ip=_req(e, "ip", "network interface"),
            public_ip=e.get("public_ip", ""),
            owner_id=e.get("owner_id", st.config.owner_id),
            secondary_ips=list(e.get("secondary_ips", [])), tags=dict(e.get("tags", {}))))

    def _agent_identity(self, e):
        ident = netinfo.dmi_instance_id(self.dmi_path) or e["id"]
        mac = self.agent_mac or netinfo.first_ipv4_mac() or e.get("mac", "")
        return ident, mac.lower()

    def _instance(self, e):
        st = self.state
        ident = _req(e, "id", "instance")
        agent = bool(e.get("agent"))
        mac = None
        if agent:
            ident, mac = self._agent_identity(e)
            st.agent_id = ident
        node = _check_ref(st, "nodes", _req(e, "node", "instance"), "instance " + ident)
        itype = _check_ref(st, "instance_types", _req(e, "type", "instance"),
                           "instance " + ident)
        nif_ids = []
        for n, nic in enumerate(e.get("nics", [])):
            if isinstance(nic, str):
                nif = st.get("network_interfaces", nic)
            else:
                nic = dict(nic)
                if agent and n == 0 and mac:
                    nic["mac"] = mac
                nif = self._network_interfaces(nic)
            nif.status, nif.instance_id = "in-use", ident
            nif_ids.append(nif.id)
        inst = Instance(id=ident, name=e.get("name", ident), type=itype,
                        image_id=e.get("image", ""), node_id=node, nif_ids=nif_ids,
                        status=e.get("status", "running"), is_agent=agent,
                        platform=e.get("platform", "linux"),
                        hypervisor=e.get("hypervisor", "kvm"),
                        boot_order=e.get("boot_order", "hd"),
                        schedule_tags=e.get("schedule_tags", ""),
                        storage_schedule_tags=e.get("storage_schedule_tags", ""),
                        owner_id=e.get("owner_id", st.config.owner_id),
                        reservation_id=e.get("reservation_id", "r-" + ident[2:]))
        st.add("instances", inst)
        for v in _entries(e, "volumes", "instance " + ident):
            self._volume(v, inst, st.nodes[node])

    def _volume(self, e, inst, node):
        st = self.state
        ident = _req(e, "id", "volume")
        storage = st.storages.get(_req(e, "storage", "volume " + ident))
        if storage is None:
            raise SeedError("volume %s names unknown storage" % ident)
        data = e.get("data", True)
        size = _whole(e, "size", 1, "volume " + ident, least=1, unit=" of GiB")
        vol = Volume(id=ident, name=e.get("name", ident), size=size,
                     storage_id=storage.id, is_root=e.get("root", False),
                     delete_on_termination=e.get("delete_on_termination",
                                                 e.get("root", False)),
                     fill_seed=(ident if data is True else data) or None,
                     tags=dict(e.get("tags", {})))
        if inst is not None:
            vol.zone, vol.node_id = node.cluster_id, node.id
            vol.attachment = Attachment(inst.id, _req(e, "device", "volume " + ident),
                                        "attached")
            vol.status = "in-use"
        else:
            vol.zone = _check_ref(st, "clusters", _req(e, "zone", "volume " + ident),
                                  "volume " + ident)
            vol.node_id = e.get("node", "")
            vol.status = "available"
        st.add("volumes", vol)

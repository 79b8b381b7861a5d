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
        return json.load(f)


def _req(entry, key, what):
    if key not in entry or entry[key] in ("", None):
        raise SeedError("%s lacks '%s': %s" % (what, key, json.dumps(entry)))
    return entry[key]


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
        st = self.state
        st.clear()
        st.config.update(data.get("config", {}))
        st.accounts.update(data.get("accounts", {}))
        cloud = data.get("cloud", {})
        st.cloud.id = cloud.get("id", st.cloud.id)
        st.cloud.name = cloud.get("name", st.cloud.name)
        st.cloud.status = cloud.get("status", st.cloud.status)
        for name in ("clusters", "nodes", "storages", "instance_types", "images", "vpcs",
                     "subnets", "security_groups", "network_interfaces"):
            for entry in data.get(name, []):
                getattr(self, "_" + name)(entry)
        for entry in data.get("instances", []):
            self._instance(entry)
        for entry in data.get("volumes", []):
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
            cpu_cores=e.get("cpu_cores", 16), cpu_sockets=e.get("cpu_sockets", 2),
            cpu_max=e.get("cpu_max", 32), cpu_used=e.get("cpu_used", 0),
            memory_max=e.get("memory_max", 65536), memory_used=e.get("memory_used", 0)))

    def _storages(self, e):
        ident = _req(e, "id", "storage")
        self.state.add("storages", Storage(
            id=ident, name=e.get("name", ident), type=_req(e, "type", "storage"),
            status=e.get("status", "available"), location=e.get("location", ""),
            file_format=e.get("file_format", "raw"), disabled=e.get("disabled", False),
            space_max=e.get("space_max", 1024), base_used=e.get("space_used", 0),
            logic_space_max=e.get("logic_space_max", e.get("space_max", 1024)),
            logic_space_used=e.get("logic_space_used", 0),
            parameters=e.get("parameters", {})))

    def _instance_types(self, e):
        ident = _req(e, "id", "instance type")
        self.state.add("instance_types", InstanceType(
            id=ident, display_name=e.get("display_name", ident), cpu=e.get("cpu", 1),
            ram=e.get("ram", 1024), disk=e.get("disk", 20), max=e.get("max", 100),
            available=e.get("available", 100), bare_metal=e.get("bare_metal", False)))

    def _images(self, e):
        ident = _req(e, "id", "image")
        img = Image(id=ident, status=e.get("status", "available"),
                    name=e.get("name", ident), location=e.get("location", ""),
                    size=e.get("size", backing.GIB), tags=dict(e.get("tags", {})))
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
        for v in e.get("volumes", []):
            self._volume(v, inst, st.nodes[node])

    def _volume(self, e, inst, node):
        st = self.state
        ident = _req(e, "id", "volume")
        storage = st.storages.get(_req(e, "storage", "volume " + ident))
        if storage is None:
            raise SeedError("volume %s names unknown storage" % ident)
        data = e.get("data", True)
        vol = Volume(id=ident, name=e.get("name", ident), size=e.get("size", 1),
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

"""Instance actions: listing (with paging), creation, termination, stop and start.

An instance's answer lists only two nested lists, "blockDeviceMapping" and
"productCodesSet": any other list of items inside an instance would read as further
instances to the module's parser. Its network interfaces travel as the JSON text
"nifInfo"."""

import json

from . import (action, by_ids, now_iso, paginate, poll_all, select, state_error)
from ..backing import GIB, copy_sparse, grow
from ..errors import ApiError, invalid, missing
from ..model import Attachment, Instance, STATE_CODES, Volume

INSTANCE_FILTERS = ("instance-id", "availability-zone", "node-id", "instance-name",
                    "instance-state-name")


def nif_info(state, inst):
    entries = []
    for n, nif_id in enumerate(inst.nif_ids):
        nif = state.network_interfaces.get(nif_id)
        if nif is None:
            continue
        entries.append({"netifId": nif.id, "netifType": "main" if n == 0 else "extend",
                        "privateip": nif.private_ip, "publicip": nif.public_ip,
                        "priSubnetId": nif.subnet_id})
    return json.dumps({"nifInfo": entries}, separators=(",", ":"))


def main_nif(state, inst):
    for nif_id in inst.nif_ids:
        nif = state.network_interfaces.get(nif_id)
        if nif is not None:
            return nif
    return None


def block_devices(state, inst):
    out = []
    for vol in state.volumes_of(inst.id):
        att = vol.attachment
        out.append(("item", [("deviceName", att.device),
                             ("ebs", [("volumeId", vol.id), ("status", att.status),
                                      ("size", vol.size),
                                      ("deleteOnTermination",
                                       vol.delete_on_termination)])]))
    return out


def root_storage(state, inst):
    vols = state.volumes_of(inst.id)
    roots = [v for v in vols if v.is_root] or vols
    return roots[0].storage_id if roots else ""


def instance_nodes(state, inst):
    itype = state.instance_types.get(inst.type)
    nif = main_nif(state, inst)
    subnet = state.subnets.get(nif.subnet_id) if nif else None
    return [("instanceId", inst.id), ("instanceName", inst.name),
            ("imageId", inst.image_id),
            ("instanceState", [("code", STATE_CODES.get(inst.status, 0)),
                               ("name", inst.status)]),
            ("ipAddress", nif.private_ip if nif else ""),
            ("instanceType", inst.type),
            ("vmtype_cpu", itype.cpu if itype else 0),
            ("vmtype_mem", itype.ram if itype else 0),
            ("mainNetifMac", nif.mac if nif else ""),
            ("placement", [("availabilityZone", state.zone_of_instance(inst))]),
            ("hostAddress", inst.node_id),
            ("subnetId", nif.subnet_id if nif else ""),
            ("vpcId", subnet.vpc_id if subnet else ""),
            ("storageId", root_storage(state, inst)),
            ("platform", inst.platform), ("hypervisor", inst.hypervisor),
            ("bootOrder", inst.boot_order), ("scheduleTags", inst.schedule_tags),
            ("storageScheduleTags", inst.storage_schedule_tags),
            ("rootDeviceName", "/dev/vda"),
            ("blockDeviceMapping", block_devices(state, inst)),
            ("nifInfo", nif_info(state, inst))]


def reservation_nodes(state, inst, members=None):
    """One reservation: its owner and group (the first instance's), then its instances
    (`members`, default the instance alone)."""
    nif = main_nif(state, inst)
    groups = []
    if nif:
        for gid in nif.group_ids[:1]:
            grp = state.security_groups.get(gid)
            if grp:
                groups.append(("item", [("groupId", grp.id), ("groupName", grp.name)]))
    return [("reservationId", inst.reservation_id),
            ("ownerId", inst.owner_id or state.config.owner_id),
            ("groupSet", groups),
            ("instancesSet", [("item", instance_nodes(state, i)) for i in members or [inst]])]


def reservations(state, instances):
    """The instances grouped by reservation, in order of first appearance."""
    groups = {}
    for inst in instances:
        groups.setdefault(inst.reservation_id or inst.id, []).append(inst)
    return [("item", reservation_nodes(state, members[0], members))
            for members in groups.values()]


def instance_criteria(call):
    filters = call.filters()
    ids = call.params.numbered("InstanceId")
    by_ids(call.state, "instances", ids)
    if ids:
        filters = dict(filters, **{"instance-id": ids + filters.get("instance-id", [])})
    return filters


def matching_instances(state, criteria):
    getters = {"instance-id": lambda i: i.id,
               "availability-zone": lambda i: state.zone_of_instance(i),
               "node-id": lambda i: i.node_id, "instance-name": lambda i: i.name,
               "instance-state-name": lambda i: i.status}
    return select(state.instances.values(),
                  [(getters[k], set(v)) for k, v in criteria.items()])


@action("DescribeInstances", params=[r"InstanceId\.\d+"], filters=INSTANCE_FILTERS,
        paged=True)
def describe_instances(call):
    state = call.state
    page, token = paginate(call, "DescribeInstances", lambda: instance_criteria(call),
                           lambda crit: matching_instances(state, crit))
    out = [("reservationSet", reservations(state, page))]
    if token:
        out.append(("nextToken", token))
    poll_all(state, page)
    return out


def state_change(inst_id, current, previous):
    return ("item", [("instanceId", inst_id),
                     ("currentState", [("code", STATE_CODES.get(current, 0)),
                                       ("name", current)]),
                     ("previousState", [("code", STATE_CODES.get(previous, 0)),
                                        ("name", previous)])])


def set_status(res):
    def finish(status):
        res.status = status
    return finish


def instance_ids(call):
    ids = call.params.numbered("InstanceId")
    if not ids:
        raise missing("InstanceId.1")
    return [call.state.get("instances", i) for i in ids]


@action("StopInstances", params=[r"InstanceId\.\d+", "Force"])
def stop_instances(call):
    state = call.state
    changes = []
    for inst in instance_ids(call):
        before = inst.status
        if before in ("running", "pending"):
            state.begin(inst, "stopping", "stopped", set_status(inst),
                        call.lifecycle_fault())
            changes.append(state_change(inst.id, "stopping", before))
        elif before in ("stopped", "stopping"):
            changes.append(state_change(inst.id, before, before))
        else:
            raise ApiError("IncorrectInstanceState", "The instance '%s' is %s and "
                           "cannot be stopped" % (inst.id, before))
    return [("instancesSet", changes)]


@action("StartInstances", params=[r"InstanceId\.\d+"])
def start_instances(call):
    state = call.state
    changes = []
    for inst in instance_ids(call):
        before = inst.status
        if before == "stopped":
            state.begin(inst, "pending", "running", set_status(inst),
                        call.lifecycle_fault())
            changes.append(state_change(inst.id, "pending", before))
        elif before in ("running", "pending"):
            changes.append(state_change(inst.id, before, before))
        else:
            raise ApiError("IncorrectInstanceState", "The instance '%s' is %s and "
                           "cannot be started" % (inst.id, before))
    return [("instancesSet", changes)]


def release_instance(state, inst):
    """What termination frees at once: network interfaces, data volumes (detached)
    and the volumes deleted with the instance."""
    for nif_id in inst.nif_ids:
        nif = state.network_interfaces.get(nif_id)
        if nif is not None:
            nif.instance_id = ""
            nif.status = "available"
    for vol in state.volumes_of(inst.id):
        state.detach_local(vol.id)
        vol.attachment = None
        vol.trans = None
        if vol.delete_on_termination:
            state.release_file(vol)
            del state.volumes[vol.id]
        else:
            vol.status = "available"
    for tmp in state.tmp_snapshots.values():
        if tmp.attach_instance_id == inst.id:
            state.detach_local(tmp.id)
            tmp.attach_instance_id = ""
            tmp.trans = None
            tmp.status = "available"


@action("TerminateInstances", params=[r"InstanceId\.\d+"])
def terminate_instances(call):
    state = call.state
    changes = []
    for inst in instance_ids(call):
        before = inst.status
        if before in ("terminated", "shutting-down"):
            changes.append(state_change(inst.id, before, before))
            continue
        release_instance(state, inst)
        state.begin(inst, "shutting-down", "terminated", set_status(inst),
                    call.lifecycle_fault())
        changes.append(state_change(inst.id, "shutting-down", before))
    return [("instancesSet", changes)]


RUN_PARAMS = ["imageId", "ImageId", "instanceName", "minCount", "maxCount", "instanceType",
              r"BlockDeviceMapping\.\d+\.Ebs\.VolumeSize",
              r"BlockDeviceMapping\.\d+\.Ebs\.DeleteOnTermination",
              r"BlockDeviceMapping\.\d+\.Ebs\.StorageId",
              r"BlockDeviceMapping\.\d+\.DeviceName", r"AllowNodes\.\d+",
              r"NetworkInterface\.\d+\.NetworkInterfaceId",
              r"NetworkInterface\.\d+\.AssociatePublicIpAddress",
              "StorageScheduleTags", "ScheduleTags", "OwnerId"]


def run_network_interfaces(call):
    state = call.state
    nifs = []
    for n, group in call.params.numbered_groups("NetworkInterface").items():
        nif_id = group.get("NetworkInterfaceId")
        if not nif_id:
            raise missing("NetworkInterface.%d.NetworkInterfaceId" % n)
        nif = state.get("network_interfaces", nif_id)
        if nif.status != "available" or nif in nifs:
            raise ApiError("InvalidNetworkInterface.InUse",
                           "The network interface '%s' is in use" % nif_id)
        nifs.append(nif)
    return nifs


def run_node(call, root_node):
    state = call.state
    allowed = call.params.numbered("AllowNodes")
    for node_id in allowed:
        state.get("nodes", node_id)
    if allowed:
        return allowed[0]
    if root_node:
        return root_node
    if not state.nodes:
        raise ApiError("InsufficientInstanceCapacity", "No node can run the instance")
    return next(iter(state.nodes))


class RootPlan:
    """Where the new instance's system disk comes from: an existing converted volume,
    a snapshot (copied into a new volume) or an image (a new blank volume)."""

    def __init__(self, call):
        state, p = call.state, call.params
        self.image_id = p.get("imageId") or p.require("ImageId")
        bdm = call.params.numbered_groups("BlockDeviceMapping").get(1, {})
        self.size = int(bdm.get("Ebs.VolumeSize", "0") or 0)
        if self.size < 0:
            raise invalid("The volume size must be positive")
        self.device = bdm.get("DeviceName") or "/dev/vda"
        self.delete_on_termination = bdm.get("Ebs.DeleteOnTermination", "true") == "true"
        self.storage_id = bdm.get("Ebs.StorageId", "")
        self.volume = state.volumes.get(self.image_id)
        self.snapshot = state.snapshots.get(self.image_id)
        self.image = state.images.get(self.image_id)
        if self.volume:
            if self.volume.status != "available" or self.volume.attachment:
                raise state_error("The volume '%s' is not available" % self.volume.id)
            if not self.volume.convert:
                raise state_error("The volume '%s' has not been converted to a system "
                                  "disk" % self.volume.id)
        elif self.snapshot:
            if self.snapshot.status != "completed":
                raise state_error("The snapshot '%s' is not completed"
                                  % self.snapshot.id)
            self.storage_id = self.storage_id or self.snapshot.storage_id
            self.size = max(self.size, self.snapshot.size)
        elif self.image:
            self.size = max(self.size, 1)
            if not self.storage_id:
                raise missing("BlockDeviceMapping.1.Ebs.StorageId")
        else:
            raise ApiError("InvalidAMIID.NotFound",
                           "The image '%s' does not exist" % self.image_id)
        if not self.volume:
            state.get("storages", self.storage_id)

    @property
    def node_hint(self):
        return self.volume.node_id if self.volume else ""

    def attributes(self):
        if self.volume:
            c = self.volume.convert
            return c.get("Platform", "linux"), "kvm"
        if self.snapshot and self.snapshot.root_info:
            info = json.loads(self.snapshot.root_info)
            return info.get("platform", "linux"), "kvm"
        if self.image:
            return self.image.platform, self.image.hypervisor
        return "linux", "kvm"

    def make(self, state, node):
        """The root volume (created now unless it exists)."""
        if self.volume:
            vol = self.volume
            if self.size > vol.size:
                vol.size = self.size
                if vol.backing:
                    grow(vol.backing, vol.size * GIB)
        else:
            vol = Volume(id=state.new_id("vol"), origin="api", status="in-use",
                         size=self.size, storage_id=self.storage_id)
            if self.snapshot:
                vol.snapshot_id = self.snapshot.id
                vol.backing = state.file_path("volumes", vol.id)
                copy_sparse(self.snapshot.backing, vol.backing)
                grow(vol.backing, vol.size * GIB)
            state.add("volumes", vol)
        vol.is_root = True
        vol.zone = node.cluster_id
        vol.node_id = node.id
        vol.status = "in-use"
        vol.delete_on_termination = self.delete_on_termination
        return vol


@action("RunInstances", params=RUN_PARAMS)
def run_instances(call):
    state, p = call.state, call.params
    for name in ("minCount", "maxCount"):
        if p.get(name, "1") != "1":
            raise invalid("Only one instance may be created per request")
    itype = state.get("instance_types", p.require("instanceType"))
    plan = RootPlan(call)
    nifs = run_network_interfaces(call)
    node = state.nodes[run_node(call, plan.node_hint)]
    storage = state.storages.get(plan.volume.storage_id if plan.volume
                                 else plan.storage_id)
    if (state.config.enforce_local_storage and storage and storage.local
            and plan.node_hint and plan.node_hint != node.id):
        raise invalid("The volume '%s' lies on storage local to node '%s' and cannot "
                      "boot an instance on node '%s'" % (plan.image_id, plan.node_hint,
                                                         node.id))
    platform, hypervisor = plan.attributes()
    inst = Instance(id=state.new_id("i"), origin="api", name=p.get("instanceName", ""),
                    type=itype.id, image_id=plan.image_id, node_id=node.id,
                    nif_ids=[n.id for n in nifs], platform=platform,
                    hypervisor=hypervisor, schedule_tags=p.get("ScheduleTags", ""),
                    storage_schedule_tags=p.get("StorageScheduleTags", ""),
                    owner_id=p.get("OwnerId") or state.config.owner_id,
                    reservation_id=state.new_id("r"))
    root = plan.make(state, node)
    root.attachment = Attachment(inst.id, plan.device, "attached", origin="api")
    for nif in nifs:
        nif.status, nif.instance_id = "in-use", inst.id
    state.add("instances", inst)
    state.begin(inst, "pending", "running", set_status(inst), call.lifecycle_fault())
    nodes = reservation_nodes(state, inst)
    nodes[-1] = ("instancesSet", [("item", instance_nodes(state, inst)
                                   + [("launchTime", now_iso())])])
    return nodes

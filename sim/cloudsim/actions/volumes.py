"""Volume actions: listing, creation (blank or from a snapshot), attachment and
detachment (real local devices when the instance is the agent), deletion, conversion
into a system disk and moving to another node of a local storage."""

from . import (action, by_ids, check_device, now_iso, poll_all, result_true, select,
               state_error, tag_set)
from ..backing import copy_sparse, grow, GIB
from ..errors import ApiError, invalid, missing
from ..model import Attachment, Volume
from ..xmlout import items

VOLUME_FILTERS = ("volume-id", "attachment.instance-id", "status", "storage-id",
                  "availability-zone")


def volume_item(vol):
    att = vol.attachment
    attachments = []
    if att:
        attachments.append([("volumeId", vol.id), ("instanceId", att.instance_id),
                            ("device", att.device), ("status", att.status),
                            ("deleteOnTermination", vol.delete_on_termination)])
    return [("volumeId", vol.id), ("volumeName", vol.name), ("size", vol.size),
            ("snapshotId", vol.snapshot_id), ("availabilityZone", vol.zone),
            ("status", vol.status), ("isRoot", vol.is_root),
            ("storageId", vol.storage_id), ("nodeId", vol.node_id),
            items("attachmentSet", attachments), tag_set(vol)]


@action("DescribeVolumes", params=[r"VolumeId\.\d+"], filters=VOLUME_FILTERS)
def describe_volumes(call):
    state = call.state
    f = call.filters()
    ids = call.params.numbered("VolumeId")
    pool = by_ids(state, "volumes", ids) if ids else state.volumes.values()
    found = select(pool, [
        (lambda v: v.id, set(f.get("volume-id", []))),
        (lambda v: v.attachment.instance_id if v.attachment else None,
         set(f.get("attachment.instance-id", []))),
        (lambda v: v.status, set(f.get("status", []))),
        (lambda v: v.storage_id, set(f.get("storage-id", []))),
        (lambda v: v.zone, set(f.get("availability-zone", [])))])
    out = [items("volumeSet", [volume_item(v) for v in found] + slot_items(state, f, ids))]
    poll_all(state, found)
    return out


def slot_items(state, f, ids):
    """A temporary snapshot attached to an instance holds one of its device slots: the
    listing of the instance's disks shows it, so that a new attachment can choose a
    free name."""
    wanted = set(f.get("attachment.instance-id", []))
    if not wanted or ids or set(f) - {"attachment.instance-id"}:
        return []
    return [[("volumeId", t.id), ("volumeName", t.name), ("size", t.size),
             ("status", "in-use"), ("isRoot", False),
             items("attachmentSet", [[("volumeId", t.id), ("instanceId", t.attach_instance_id),
                                      ("device", t.device), ("status", "attached")]])]
            for t in state.tmp_snapshots.values()
            if t.attach_instance_id in wanted and t.device]


def set_status(res):
    def finish(status):
        res.status = status
    return finish


def check_capacity(state, storage, size):
    if storage.disabled:
        raise state_error("The storage '%s' is disabled" % storage.id)
    if storage.space_max and state.storage_used(storage.id) + size > storage.space_max:
        raise ApiError("InsufficientStorageCapacity", "The storage '%s' lacks %d GiB"
                       % (storage.id, size))


def new_volume_node(state, storage, node_id):
    # A node outside the volume's zone is accepted: a restore makes local volumes on
    # the agent's node and moves them into the target zone's node afterwards.
    if node_id:
        state.get("nodes", node_id)
    elif storage.local and state.config.enforce_local_storage:
        raise missing("nodeId")
    return node_id or ""


@action("CreateVolume", params=["VolumeName", "AvailabilityZone", "Size", "StorageId",
                                "nodeId", "SnapshotId"])
def create_volume(call):
    state, p = call.state, call.params
    zone = state.get("clusters", p.require("AvailabilityZone")).id
    snap = state.get("snapshots", p.get("SnapshotId")) if p.has("SnapshotId") else None
    if snap is not None:
        if snap.status != "completed":
            raise state_error("The snapshot '%s' is not completed" % snap.id)
        size = max(p.int_value("Size", 1, 16384, snap.size), snap.size)
        storage = state.get("storages", p.get("StorageId") or snap.storage_id)
        node_id = p.get("nodeId", "")
        if node_id:
            new_volume_node(state, storage, node_id)
    else:
        if not p.has("Size"):
            raise missing("Size")
        size = p.int_value("Size", 1, 16384)
        storage = state.get("storages", p.require("StorageId"))
        node_id = new_volume_node(state, storage, p.get("nodeId"))
    check_capacity(state, storage, size)
    vol = Volume(id=state.new_id("vol"), origin="api", name=p.get("VolumeName", ""),
                 size=size, storage_id=storage.id, zone=zone, node_id=node_id)
    if snap is not None:
        vol.snapshot_id = snap.id
        vol.backing = state.file_path("volumes", vol.id)
        copy_sparse(snap.backing, vol.backing)
        grow(vol.backing, size * GIB)
    state.add("volumes", vol)
    state.begin(vol, "creating", "available", set_status(vol), call.lifecycle_fault())
    return [("volumeId", vol.id), ("size", vol.size), ("snapshotId", vol.snapshot_id),
            ("availabilityZone", zone), ("status", "creating"), ("createTime", now_iso()),
            ("storageId", storage.id), ("nodeId", node_id)]


def attach_finish(vol):
    def finish(status):
        if vol.attachment is not None:
            vol.attachment.status = status
        if status != "attached":
            vol.status = status
    return finish


def detach_finish(state, vol):
    def finish(status):
        if status == "available":
            vol.attachment = None
        elif vol.attachment is not None:
            vol.attachment.status = status
        vol.status = status
    return finish


def operate_answer(vol, att, status):
    return [("volumeId", vol.id), ("instanceId", att.instance_id),
            ("device", att.device), ("status", status), ("attachTime", now_iso())]


@action("AttachVolume", params=["InstanceId", "Device", "VolumeId"])
def attach_volume(call):
    state, p = call.state, call.params
    vol = state.get("volumes", p.require("VolumeId"))
    inst = state.live_instance(p.require("InstanceId"))
    device = p.require("Device")
    check_device(device)
    if vol.attachment is not None:
        raise ApiError("VolumeInUse", "The volume '%s' is already attached to '%s'"
                       % (vol.id, vol.attachment.instance_id))
    if vol.status != "available":
        raise state_error("The volume '%s' is %s" % (vol.id, vol.status))
    if device in state.devices_of(inst.id):
        raise invalid("The device '%s' of instance '%s' is already in use"
                      % (device, inst.id))
    storage = state.storages.get(vol.storage_id)
    if (state.config.enforce_local_storage and storage and storage.local
            and vol.node_id and vol.node_id != inst.node_id):
        raise invalid("The volume '%s' lies on storage local to node '%s', the "
                      "instance runs on node '%s'" % (vol.id, vol.node_id, inst.node_id))
    if inst.is_agent:
        state.attach_local(vol.id, state.volume_file(vol), read_only=False)
    vol.attachment = Attachment(inst.id, device, "attaching", origin="api")
    state.begin(vol, "in-use", "attached", attach_finish(vol), call.lifecycle_fault())
    return operate_answer(vol, vol.attachment, "attaching")


@action("DetachVolume", params=["InstanceId", "Device", "VolumeId", "Force"])
def detach_volume(call):
    state, p = call.state, call.params
    vol = state.get("volumes", p.require("VolumeId"))
    att = vol.attachment
    if att is None:
        raise ApiError("IncorrectState", "The volume '%s' is not attached" % vol.id)
    if p.has("InstanceId") and p.get("InstanceId") != att.instance_id:
        raise ApiError("IncorrectState", "The volume '%s' is not attached to '%s'"
                       % (vol.id, p.get("InstanceId")))
    if p.has("Device") and p.get("Device") != att.device:
        raise invalid("The volume '%s' is attached as '%s', not '%s'"
                      % (vol.id, att.device, p.get("Device")))
    if att.status == "detaching":
        raise state_error("The volume '%s' is already detaching" % vol.id)
    inst = state.instances.get(att.instance_id)
    if vol.is_root and inst and inst.status not in ("stopped", "terminated", "error"):
        raise state_error("The root volume '%s' of instance '%s' cannot be detached "
                          "while the instance is %s" % (vol.id, inst.id, inst.status))
    state.detach_local(vol.id)
    att.status = "detaching"
    state.begin(vol, "in-use", "available", detach_finish(state, vol),
                call.lifecycle_fault())
    return operate_answer(vol, att, "detaching")


@action("DeleteVolume", params=["VolumeId"])
def delete_volume(call):
    state = call.state
    vol = state.get("volumes", call.params.require("VolumeId"))
    if vol.attachment is not None and vol.status != "error":
        raise ApiError("VolumeInUse", "The volume '%s' is attached to '%s'"
                       % (vol.id, vol.attachment.instance_id))
    if vol.status == "creating":
        raise state_error("The volume '%s' is still being created" % vol.id)
    state.detach_local(vol.id)
    state.release_file(vol)
    del state.volumes[vol.id]
    return result_true()


CONVERT_KEYS = ("Architecture", "IsRoot", "Platform", "Contentmode", "Diskbus",
                "AttachDiskbus", "Bootloader")


@action("ConvertVolume", params=["VolumeId"] + list(CONVERT_KEYS))
def convert_volume(call):
    state, p = call.state, call.params
    vol = state.get("volumes", p.require("VolumeId"))
    if vol.status != "available" or vol.attachment is not None:
        raise state_error("The volume '%s' must be available to be converted" % vol.id)
    is_root = p.bool_value("IsRoot", False)
    vol.convert = {k: p.get(k, "") for k in CONVERT_KEYS}
    vol.is_root = is_root
    return result_true()


def move_finish(vol, storage_id, node_id):
    def finish(status):
        vol.status = status
        if status == "available":
            vol.storage_id, vol.node_id = storage_id, node_id
    return finish


@action("ModifyVolumeStorage", params=["volumeId", "storageId", "nodeId"])
def modify_volume_storage(call):
    state, p = call.state, call.params
    vol = state.get("volumes", p.require("volumeId"))
    storage = state.get("storages", p.require("storageId"))
    node = state.get("nodes", p.require("nodeId"))
    if vol.attachment is not None or vol.status != "available":
        raise state_error("The volume '%s' must be available and detached to be moved"
                          % vol.id)
    if node.cluster_id != vol.zone and vol.zone:
        raise invalid("The node '%s' is not in the volume's availability zone '%s'"
                      % (node.id, vol.zone))
    if storage.id != vol.storage_id:
        check_capacity(state, storage, vol.size)
    state.begin(vol, "available", "available", move_finish(vol, storage.id, node.id),
                call.lifecycle_fault())
    return result_true()


"""Snapshot actions: snapshots, temporary snapshots (attachable to an instance as a
disk; one per volume at a time, a second is refused with a message naming the first)
and instance backups (one snapshot per attached volume, listed as block-device mapping
JSON). Every snapshot holds a copy of its volume's bytes taken at the request."""

import json

from . import (action, next_device, now_iso, poll_all, result_true, select, state_error,
               tag_set)
from ..errors import ApiError, invalid, missing
from ..model import InstanceBackup, Snapshot, TmpSnapshot
from ..xmlout import items

UNREADY_VOLUME = ("creating", "error", "deleting")


def set_status(res):
    def finish(status):
        res.status = status
    return finish


def readable_volume(state, volume_id):
    vol = state.get("volumes", volume_id)
    if vol.status in UNREADY_VOLUME:
        raise state_error("The volume '%s' is %s" % (vol.id, vol.status))
    return vol


# ---- snapshots ---------------------------------------------------------------------
def snapshot_item(snap):
    return [("snapshotId", snap.id), ("snapshotName", snap.name),
            ("volumeId", snap.volume_id), ("status", snap.status),
            ("volumeSize", snap.size), ("isRoot", snap.is_root),
            ("storageId", snap.storage_id), ("instanceBackupId", snap.backup_id),
            tag_set(snap)]


@action("DescribeSnapshots", params=[r"InstanceSnapshotId\.\d+"],
        filters=["volume-id", "snapshot-id"])
def describe_snapshots(call):
    state = call.state
    f = call.filters()
    wanted = set(call.params.numbered("InstanceSnapshotId")) | set(f.get("snapshot-id",
                                                                          []))
    found = select(state.snapshots.values(),
                   [(lambda s: s.id, wanted),
                    (lambda s: s.volume_id, set(f.get("volume-id", [])))])
    out = [items("snapshotSet", [snapshot_item(s) for s in found])]
    poll_all(state, found)
    return out


def take_snapshot(state, vol, name, backup_id=""):
    snap = Snapshot(id=state.new_id("snap"), origin="api", name=name, volume_id=vol.id,
                    size=vol.size, storage_id=vol.storage_id, backup_id=backup_id)
    snap.backing = state.copy_of_volume(vol, "snapshots", snap.id)
    return state.add("snapshots", snap)


@action("CreateSnapshot", params=["VolumeId", "SnapshotName", "IsRoot", "RootInfo"])
def create_snapshot(call):
    state, p = call.state, call.params
    vol = readable_volume(state, p.require("VolumeId"))
    is_root = p.bool_value("IsRoot", False)
    root_info = p.get("RootInfo", "")
    if root_info:
        try:
            if not isinstance(json.loads(root_info), dict):
                raise ValueError
        except ValueError:
            raise invalid("RootInfo must be a JSON object") from None
    snap = take_snapshot(state, vol, p.get("SnapshotName", ""))
    snap.is_root, snap.root_info = is_root, root_info
    state.begin(snap, "pending", "completed", set_status(snap), call.lifecycle_fault())
    return [("snapshotId", snap.id), ("volumeId", vol.id), ("status", "pending"),
            ("startTime", now_iso()), ("volumeSize", snap.size)]


@action("DeleteSnapshot", params=["SnapshotId"])
def delete_snapshot(call):
    state = call.state
    snap = state.get("snapshots", call.params.require("SnapshotId"))
    if snap.backup_id:
        raise state_error("The snapshot '%s' belongs to instance backup '%s'"
                          % (snap.id, snap.backup_id))
    state.release_file(snap)
    del state.snapshots[snap.id]
    return result_true()


# ---- temporary snapshots -------------------------------------------------------------
def tmp_snapshot_item(tmp):
    return [("tmpSnapshotId", tmp.id), ("tmpSnapshotName", tmp.name),
            ("volumeId", tmp.volume_id), ("status", tmp.status),
            ("attachInstanceId", tmp.attach_instance_id), ("device", tmp.device),
            ("volumeSize", tmp.size), tag_set(tmp)]


@action("DescribeTmpSnapshots", params=[r"TmpSnapshotId\.\d+"],
        filters=["volume-id", "tmp-snapshot-id"])
def describe_tmp_snapshots(call):
    state = call.state
    f = call.filters()
    wanted = set(call.params.numbered("TmpSnapshotId")) | set(f.get("tmp-snapshot-id",
                                                                     []))
    found = select(state.tmp_snapshots.values(),
                   [(lambda t: t.id, wanted),
                    (lambda t: t.volume_id, set(f.get("volume-id", [])))])
    out = [items("tmpSnapshotSet", [tmp_snapshot_item(t) for t in found])]
    poll_all(state, found)
    return out


def residue_of(state, volume_id):
    for tmp in state.tmp_snapshots.values():
        if tmp.volume_id == volume_id:
            return tmp
    return None


def make_tmp_snapshot(state, vol, origin):
    tmp = TmpSnapshot(id=state.new_id("tmpsnap"), origin=origin, volume_id=vol.id,
                      size=vol.size, status="available")
    tmp.name = "%s-tmp" % (vol.name or vol.id)
    tmp.backing = state.copy_of_volume(vol, "tmp_snapshots", tmp.id)
    return state.add("tmp_snapshots", tmp)


@action("CreateTmpSnapshots", params=[r"VolumeId\.\d+"])
def create_tmp_snapshots(call):
    state = call.state
    ids = call.params.numbered("VolumeId")
    if not ids:
        raise missing("VolumeId.1")
    vols = [readable_volume(state, i) for i in ids]
    for vol in vols:
        old = residue_of(state, vol.id)
        if old is not None:
            raise ApiError("TmpSnapshotAlreadyExists",
                           "Volume %s already has tmp snapshot %s, delete it before "
                           "creating a new one" % (vol.id, old.id))
    made = []
    for vol in vols:
        tmp = make_tmp_snapshot(state, vol, "api")
        state.begin(tmp, "pending", "available", set_status(tmp),
                    call.lifecycle_fault())
        made.append([("tmpSnapshotId", tmp.id), ("volumeId", vol.id),
                     ("status", "pending")])
    return [items("tmpSnapshotSet", made)]


def attach_tmp(state, tmp, inst):
    """Attaches under the next free device name of the instance: a temporary snapshot
    takes a device slot like a volume does."""
    device = next_device(state.devices_of(inst.id))
    if inst.is_agent:
        state.attach_local(tmp.id, tmp.backing, read_only=True)
    tmp.attach_instance_id, tmp.device = inst.id, device


@action("AttachTmpSnapshot", params=["TmpSnapshotId", "InstanceId"])
def attach_tmp_snapshot(call):
    state, p = call.state, call.params
    tmp = state.get("tmp_snapshots", p.require("TmpSnapshotId"))
    inst = state.live_instance(p.require("InstanceId"))
    if tmp.status != "available" or tmp.attach_instance_id:
        raise state_error("The tmp snapshot '%s' is %s" % (tmp.id, tmp.status))
    attach_tmp(state, tmp, inst)
    state.begin(tmp, "attaching", "attached", set_status(tmp), call.lifecycle_fault())
    return result_true()


def detach_finish(tmp):
    def finish(status):
        tmp.status = status
        if status == "available":
            tmp.attach_instance_id, tmp.device = "", ""
    return finish


@action("DetachTmpSnapshot", params=["TmpSnapshotId"])
def detach_tmp_snapshot(call):
    state = call.state
    tmp = state.get("tmp_snapshots", call.params.require("TmpSnapshotId"))
    if not tmp.attach_instance_id or tmp.status == "detaching":
        raise state_error("The tmp snapshot '%s' is not attached" % tmp.id)
    state.detach_local(tmp.id)
    state.begin(tmp, "detaching", "available", detach_finish(tmp),
                call.lifecycle_fault())
    return result_true()


def delete_finish(state, tmp):
    def finish(status):
        if status == "deleted":
            state.release_file(tmp)
            state.tmp_snapshots.pop(tmp.id, None)
        else:
            tmp.status = status
    return finish


@action("DeleteTmpSnapshots", params=[r"TmpSnapshotId\.\d+"])
def delete_tmp_snapshots(call):
    state = call.state
    ids = call.params.numbered("TmpSnapshotId")
    if not ids:
        raise missing("TmpSnapshotId.1")
    # Like the cloud's other deletes, deleting what is already gone succeeds.
    tmps = [state.tmp_snapshots[i] for i in ids if i in state.tmp_snapshots]
    for tmp in tmps:
        if tmp.status in ("attached", "attaching", "detaching"):
            raise state_error("The tmp snapshot '%s' is %s to instance '%s'"
                              % (tmp.id, tmp.status, tmp.attach_instance_id))
    for tmp in tmps:
        if tmp.status == "deleting":
            continue
        state.detach_local(tmp.id)
        tmp.attach_instance_id = ""
        state.begin(tmp, "deleting", "deleted", delete_finish(state, tmp),
                    call.lifecycle_fault())
    return result_true()


# ---- instance backups ----------------------------------------------------------------
def backup_item(ib):
    return [("backupId", ib.id), ("instanceId", ib.instance_id),
            ("backupName", ib.name), ("backupSize", ib.size),
            ("backupStatus", ib.status), ("storageId", ib.storage_id),
            ("blockDeviceMapping", json.dumps(ib.mappings, separators=(",", ":")))]


@action("DescribeInstanceBackups", params=[r"InstanceId\.\d+", r"BackupId\.\d+"])
def describe_instance_backups(call):
    state = call.state
    found = select(state.instance_backups.values(),
                   [(lambda b: b.instance_id, set(call.params.numbered("InstanceId"))),
                    (lambda b: b.id, set(call.params.numbered("BackupId")))])
    out = [items("instanceBackupSet", [backup_item(b) for b in found])]
    poll_all(state, found)
    return out


def mapping(inst, vol, snap, n):
    return {"mappingId": "bdm-%s-%d" % (snap.id, n), "imageId": inst.image_id,
            "isRoot": vol.is_root, "deviceName": vol.attachment.device,
            "virtualName": "", "snapshotId": snap.id, "size": vol.size,
            "volumeId": vol.id, "storageId": vol.storage_id,
            "deleteOnTermination": vol.delete_on_termination}


@action("BackupInstance", params=["InstanceId", "BackupName"])
def backup_instance(call):
    state, p = call.state, call.params
    inst = state.live_instance(p.require("InstanceId"))
    vols = state.volumes_of(inst.id)
    for vol in vols:
        if vol.status in UNREADY_VOLUME:
            raise state_error("The volume '%s' of instance '%s' is %s"
                              % (vol.id, inst.id, vol.status))
    ib = InstanceBackup(id=state.new_id("ib"), origin="api", instance_id=inst.id,
                        name=p.get("BackupName") or "backup-%s" % inst.id)
    roots = [v for v in vols if v.is_root] or vols
    ib.storage_id = roots[0].storage_id if roots else ""
    ib.size = sum(v.size for v in vols)
    for n, vol in enumerate(vols, 1):
        snap = take_snapshot(state, vol, "%s-%s" % (ib.id, vol.attachment.device
                                                    .rsplit("/", 1)[-1]), ib.id)
        snap.status = "completed"
        snap.is_root = vol.is_root
        ib.mappings.append(mapping(inst, vol, snap, n))
    state.add("instance_backups", ib)
    state.begin(ib, "pending", "complete", set_status(ib), call.lifecycle_fault())
    return [("backupId", ib.id), ("instanceId", inst.id), ("backupStatus", "pending")]


@action("DeleteInstanceBackup", params=["BackupId"])
def delete_instance_backup(call):
    state = call.state
    ib = state.get("instance_backups", call.params.require("BackupId"))
    for snap in [s for s in state.snapshots.values() if s.backup_id == ib.id]:
        state.release_file(snap)
        del state.snapshots[snap.id]
    del state.instance_backups[ib.id]
    return [("deleteInstanceBackupResult", True)]

"""The simulated cloud's state: configuration, every resource store, ids, lifecycles,
backing files and the agent's local devices. One lock guards all of it; the server
holds it for the whole of each request."""

import os
import tempfile
import threading
from dataclasses import asdict, dataclass, fields
from typing import Optional

from . import backing, reclaim
from .errors import ApiError, not_found
from .loopdev import LoopError, LoopManager
from .model import Transition

DELETING_STATES = ("deleting",)


@dataclass
class Config:
    """Settings a test may change at run time (control interface: /_sim/config)."""
    version: str = "V9.8"
    transition_polls: int = 1
    default_page_size: Optional[int] = None
    strict_params: bool = True
    enforce_local_storage: bool = True
    max_skew: Optional[int] = 900
    region: Optional[str] = None
    owner_id: str = "tavro-owner-0001"
    xmlns: Optional[str] = "http://ec2.amazonaws.com/doc/2016-11-15/"
    pretty: bool = False
    # A resource made through the API is left out of this many describes that would
    # list it (a NotFound for its id, or an empty set) before it shows.
    unlisted_describes: int = 0

    def update(self, values):
        """Changes settings; refuses unknown names, values of the wrong type and numbers
        below their least."""
        types = {f.name: f.type for f in fields(self)}
        for key, value in values.items():
            if key not in types:
                raise ValueError("unknown setting '%s'" % key)
            if not _fits(types[key], value) or _below_least(key, value):
                raise ValueError("setting '%s' cannot be %r" % (key, value))
        for key, value in values.items():
            setattr(self, key, value)


# Smallest accepted value of number settings (a page size of 0 would page for ever).
LEAST = {"transition_polls": 0, "default_page_size": 1, "max_skew": 0,
         "unlisted_describes": 0}


def _below_least(key, value):
    return isinstance(value, int) and value < LEAST.get(key, value)


def _fits(declared, value):
    text = declared.__name__ if isinstance(declared, type) else str(declared)
    optional = "Optional" in text
    if value is None:
        return optional
    if "bool" in text:
        return isinstance(value, bool)
    if "int" in text:
        return isinstance(value, int) and not isinstance(value, bool)
    return isinstance(value, str)


STORE_NAMES = ("clusters", "nodes", "storages", "instance_types", "images", "vpcs",
               "subnets", "security_groups", "network_interfaces", "instances",
               "volumes", "snapshots", "tmp_snapshots", "instance_backups")

NOT_FOUND = {
    "clusters": ("InvalidZone.NotFound", "availability zone"),
    "nodes": ("InvalidNode.NotFound", "node"),
    "storages": ("InvalidStorage.NotFound", "storage"),
    "instance_types": ("InvalidInstanceType", "instance type"),
    "images": ("InvalidAMIID.NotFound", "image"),
    "vpcs": ("InvalidVpcID.NotFound", "vpc"),
    "subnets": ("InvalidSubnetID.NotFound", "subnet"),
    "security_groups": ("InvalidGroup.NotFound", "security group"),
    "network_interfaces": ("InvalidNetworkInterfaceID.NotFound", "network interface"),
    "instances": ("InvalidInstanceID.NotFound", "instance"),
    "volumes": ("InvalidVolume.NotFound", "volume"),
    "snapshots": ("InvalidSnapshot.NotFound", "snapshot"),
    "tmp_snapshots": ("InvalidTmpSnapshot.NotFound", "tmp snapshot"),
    "instance_backups": ("InvalidInstanceBackup.NotFound", "instance backup"),
}


@dataclass
class Cloud:
    id: str = "cloud-tavrosim"
    name: str = "Tavrocloud simulator"
    status: str = "available"


class CloudState:
    def __init__(self, config=None, dev_root="/dev", loop_mode="auto", data_dir=None):
        self.lock = threading.RLock()
        self.config = config or Config()
        self.accounts = {}
        self.loops = LoopManager(dev_root, loop_mode)
        self._own_data_dir = data_dir is None
        self.data_dir = data_dir or tempfile.mkdtemp(prefix="tavrosim-")
        os.makedirs(self.data_dir, exist_ok=True)
        # Held for the simulator's life: a later start tells a live folder from a dead one.
        self._folder_lock = reclaim.hold(self.data_dir)
        self.cloud = Cloud()
        self.agent_id = ""
        self.page_tokens = {}
        self._counter = 0x1000
        for name in STORE_NAMES:
            setattr(self, name, {})

    # ---- ids and look-ups ------------------------------------------------------------
    def new_id(self, prefix):
        while True:
            self._counter += 1
            ident = "%s-%08x" % (prefix, self._counter)
            if not any(ident in getattr(self, s) for s in STORE_NAMES):
                return ident

    def get(self, store, ident):
        """The resource `ident` of `store`, or the store's NotFound error."""
        res = getattr(self, store).get(ident)
        if res is None:
            code, kind = NOT_FOUND[store]
            raise not_found(code, kind, ident)
        return res

    def add(self, store, res):
        getattr(self, store)[res.id] = res
        if res.origin != "seed":
            res.unlisted = self.config.unlisted_describes
        return res

    def devices_of(self, instance_id):
        """Device names taken on the instance: its volumes' and its temporary
        snapshots'."""
        used = {v.attachment.device for v in self.volumes_of(instance_id)}
        used |= {t.device for t in self.tmp_snapshots.values()
                 if t.attach_instance_id == instance_id and t.device}
        return used

    def live_instance(self, ident):
        inst = self.get("instances", ident)
        if inst.status == "terminated":
            raise ApiError("IncorrectInstanceState",
                           "The instance '%s' is terminated" % ident)
        return inst

    def volumes_of(self, instance_id):
        vols = [v for v in self.volumes.values()
                if v.attachment and v.attachment.instance_id == instance_id]
        return sorted(vols, key=lambda v: v.attachment.device)

    def node_of_instance(self, inst):
        return self.nodes.get(inst.node_id)

    def zone_of_instance(self, inst):
        node = self.node_of_instance(inst)
        return node.cluster_id if node else ""

    def storage_used(self, storage_id):
        st = self.storages[storage_id]
        used = sum(v.size for v in self.volumes.values() if v.storage_id == storage_id)
        return st.base_used + used

    # ---- lifecycles ------------------------------------------------------------------
    def begin(self, res, transitional, final, finish, fault=None):
        """Puts res into its transitional state; finish(status) applies the end state
        after the configured number of polls (a fault may change the end state or keep
        the resource in transition for ever)."""
        polls = self.config.transition_polls
        if fault and fault.get("kind") == "end_status":
            final = fault["status"]
        if fault and fault.get("kind") == "stuck":
            polls = None
        res.status = transitional
        res.trans = Transition(polls, final, finish)
        if polls is not None and polls <= 0:
            self._complete(res)

    def polled(self, res):
        """One poll of res has been answered: count it against its transition."""
        t = res.trans
        if t is None or t.polls is None:
            return
        t.polls -= 1
        if t.polls <= 0:
            self._complete(res)

    def _complete(self, res):
        t, res.trans = res.trans, None
        t.finish(t.final)

    def settle(self, deletions_only=False):
        """Completes changes in progress (only deletions when asked): what the cloud
        would have done by itself given time."""
        for store in STORE_NAMES:
            for res in list(getattr(self, store).values()):
                if res.trans is None:
                    continue
                if deletions_only and res.status not in DELETING_STATES:
                    continue
                res.trans.polls = 0
                self._complete(res)

    # ---- backing files and local devices -----------------------------------------------
    def file_path(self, kind, ident):
        folder = os.path.join(self.data_dir, kind)
        os.makedirs(folder, exist_ok=True)
        return os.path.join(folder, ident + ".img")

    def volume_file(self, vol):
        """The volume's backing file, made (sparse, with its known data) on first use."""
        if vol.backing and os.path.exists(vol.backing):
            return vol.backing
        path = self.file_path("volumes", vol.id)
        backing.create_sparse(path, vol.size * backing.GIB)
        if vol.fill_seed:
            backing.write_chunks(path, backing.pattern_chunks(vol.fill_seed,
                                                              vol.size * backing.GIB))
        vol.backing = path
        return path

    def copy_of_volume(self, vol, kind, ident):
        """A point-in-time copy of the volume's bytes, as a new backing file."""
        src = self.volume_file(vol)
        self.loops.flush(vol.id)
        dst = self.file_path(kind, ident)
        backing.copy_sparse(src, dst)
        return dst

    def attach_local(self, res_id, path, read_only):
        try:
            self.loops.attach(res_id, path, read_only)
        except LoopError as e:
            raise ApiError("InternalError", "Cannot attach %s to the agent: %s"
                           % (res_id, e), status=500) from e

    def detach_local(self, res_id):
        self.loops.detach(res_id)

    def release_file(self, res):
        if getattr(res, "backing", None):
            backing.remove(res.backing)
            res.backing = None

    # ---- whole-state operations --------------------------------------------------------
    def clear(self):
        """Forgets every resource: local devices are detached, backing files removed."""
        self.loops.detach_all()
        for name in STORE_NAMES:
            for res in getattr(self, name).values():
                self.release_file(res)
            setattr(self, name, {})
        self.page_tokens = {}
        self.agent_id = ""

    def close(self):
        self.clear()
        if self._own_data_dir:
            backing.remove_tree(self.data_dir)
        if self._folder_lock is not None:
            os.close(self._folder_lock)
            self._folder_lock = None

    def describe(self):
        """The whole state as JSON-ready data."""
        out = {"config": asdict(self.config), "cloud": asdict(self.cloud),
               "agent_id": self.agent_id, "data_dir": self.data_dir,
               "loop_mode": self.loops.mode, "dev_root": self.loops.dev_root}
        for name in STORE_NAMES:
            out[name] = [resource_json(r) for r in getattr(self, name).values()]
        out["loop_devices"] = [asdict(r) for r in self.loops.records()]
        return out

    def leftovers(self):
        """Everything temporary still present once deletions in progress completed:
        what a test asserts to be empty after a job."""
        self.settle(deletions_only=True)

        def made(store, keep=lambda r: True):
            return [resource_json(r) for r in getattr(self, store).values()
                    if r.origin != "seed" and keep(r)]

        attachments = [
            {"volume_id": v.id, "instance_id": v.attachment.instance_id,
             "device": v.attachment.device, "status": v.attachment.status,
             "to_agent": v.attachment.instance_id == self.agent_id}
            for v in self.volumes.values()
            if v.attachment and v.attachment.origin != "seed"]
        attachments += [
            {"tmp_snapshot_id": t.id, "instance_id": t.attach_instance_id,
             "status": t.status, "to_agent": t.attach_instance_id == self.agent_id}
            for t in self.tmp_snapshots.values() if t.attach_instance_id]
        out = {
            "tmp_snapshots": [resource_json(t) for t in self.tmp_snapshots.values()],
            "instance_backups": made("instance_backups"),
            "snapshots": made("snapshots"),
            "volumes": made("volumes"),
            "instances": made("instances", lambda r: r.status != "terminated"),
            "network_interfaces": made("network_interfaces"),
            "attachments": attachments,
            "loop_devices": [r.device for r in self.loops.records()],
            "links": [r.link for r in self.loops.records()],
        }
        out["clean"] = not any(out.values())
        return out


def resource_json(res):
    data = {}
    for f in fields(res):
        if f.name == "trans":
            continue
        value = getattr(res, f.name)
        data[f.name] = asdict(value) if hasattr(value, "__dataclass_fields__") else value
    data["in_transition"] = res.trans is not None
    return data

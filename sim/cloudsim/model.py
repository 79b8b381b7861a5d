"""The cloud's resources as the simulator keeps them in memory.

Every resource has an id, an origin ("seed", "api" when the query API made it, "control"
when a test made it through the control interface) and, while a change is under way, a
Transition that completes after the resource has been polled a number of times."""

from dataclasses import dataclass, field
from typing import Callable, Optional


@dataclass
class Transition:
    """A change in progress: `finish(status)` applies its end state. polls is how many
    more polls show the transitional state (None: it never completes)."""
    polls: Optional[int]
    final: str
    finish: Callable[[str], None]


@dataclass
class Resource:
    id: str
    origin: str = "seed"
    status: str = ""
    trans: Optional[Transition] = field(default=None, repr=False, compare=False)
    tags: dict = field(default_factory=dict)
    # Describes that still leave the resource out (the cloud's listings are eventually
    # consistent; see Config.unlisted_describes).
    unlisted: int = 0


@dataclass
class Cluster(Resource):
    name: str = ""


@dataclass
class Node(Resource):
    name: str = ""
    host_id: str = ""
    cluster_id: str = ""
    ip: str = ""
    mac: str = ""
    cpu_cores: int = 0
    cpu_sockets: int = 0
    cpu_max: int = 0
    cpu_used: int = 0
    memory_max: int = 0
    memory_used: int = 0


@dataclass
class Storage(Resource):
    name: str = ""
    type: str = ""
    location: str = ""
    file_format: str = "raw"
    disabled: bool = False
    space_max: int = 0
    base_used: int = 0
    logic_space_max: int = 0
    logic_space_used: int = 0
    parameters: dict = field(default_factory=dict)

    @property
    def local(self):
        return self.type in ("localfs", "localvg")


@dataclass
class InstanceType(Resource):
    display_name: str = ""
    cpu: int = 1
    ram: int = 1024
    disk: int = 20
    max: int = 100
    available: int = 100
    bare_metal: bool = False


@dataclass
class Image(Resource):
    name: str = ""
    location: str = ""
    architecture: str = "x86_64"
    size: int = 0
    hypervisor: str = "kvm"
    bootloader: str = "bios"
    contentmode: str = "raw"
    disk_bus: str = "virtio"
    platform: str = "linux"


@dataclass
class Vpc(Resource):
    name: str = ""
    cidr: str = ""
    public: bool = False
    shared: bool = False
    owner_id: str = ""


@dataclass
class Subnet(Resource):
    name: str = ""
    vpc_id: str = ""
    cidr: str = ""
    zone: str = ""


@dataclass
class SecurityGroup(Resource):
    name: str = ""
    description: str = ""
    owner_id: str = ""
    vpc_id: str = ""
    shared: bool = False


@dataclass
class NetworkInterface(Resource):
    subnet_id: str = ""
    group_ids: list = field(default_factory=list)
    mac: str = ""
    private_ip: str = ""
    public_ip: str = ""
    owner_id: str = ""
    instance_id: str = ""
    secondary_ips: list = field(default_factory=list)


@dataclass
class Attachment:
    instance_id: str
    device: str
    status: str
    origin: str = "seed"


@dataclass
class Volume(Resource):
    name: str = ""
    size: int = 1
    storage_id: str = ""
    zone: str = ""
    node_id: str = ""
    is_root: bool = False
    attachment: Optional[Attachment] = None
    delete_on_termination: bool = False
    fill_seed: Optional[str] = None
    backing: Optional[str] = None
    snapshot_id: str = ""
    convert: dict = field(default_factory=dict)


@dataclass
class Snapshot(Resource):
    name: str = ""
    volume_id: str = ""
    size: int = 1
    storage_id: str = ""
    is_root: bool = False
    root_info: str = ""
    backup_id: str = ""
    backing: Optional[str] = None


@dataclass
class TmpSnapshot(Resource):
    name: str = ""
    volume_id: str = ""
    size: int = 1
    attach_instance_id: str = ""
    device: str = ""
    backing: Optional[str] = None


@dataclass
class InstanceBackup(Resource):
    name: str = ""
    instance_id: str = ""
    storage_id: str = ""
    size: int = 0
    mappings: list = field(default_factory=list)


@dataclass
class Instance(Resource):
    name: str = ""
    type: str = ""
    image_id: str = ""
    node_id: str = ""
    nif_ids: list = field(default_factory=list)
    platform: str = "linux"
    hypervisor: str = "kvm"
    boot_order: str = "hd"
    schedule_tags: str = ""
    storage_schedule_tags: str = ""
    owner_id: str = ""
    reservation_id: str = ""
    is_agent: bool = False


STATE_CODES = {"pending": 0, "running": 16, "shutting-down": 32, "terminated": 48,
               "stopping": 64, "stopped": 80}

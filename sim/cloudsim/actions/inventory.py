"""Inventory actions: the cloud's version and identity, clusters, nodes, instance types,
images and storages."""

from . import action, by_ids, poll_all, select, tag_set
from ..xmlout import items


@action("GetCloudVersion")
def get_cloud_version(call):
    return [("getCloudVersionResult", [("version", call.state.config.version)])]


@action("DescribeCloud")
def describe_cloud(call):
    cloud = call.state.cloud
    return [("cloudId", cloud.id), ("cloudName", cloud.name), ("status", cloud.status)]


def cluster_item(state, cl):
    nodes = [n for n in state.nodes.values() if n.cluster_id == cl.id]
    controllers = [[("controllerIp", n.ip), ("controllerHost", n.name)]
                   for n in nodes[:1]]
    return [("clusterId", cl.id), ("clusterName", cl.name), ("status", cl.status),
            items("clusterControllerSet", controllers)]


@action("DescribeClusters", params=["clusterId"])
def describe_clusters(call):
    state = call.state
    wanted = call.params.get("clusterId")
    found = select(state.clusters.values(), [(lambda c: c.id, wanted and {wanted})])
    out = [items("clusterSet", [cluster_item(state, c) for c in found])]
    poll_all(state, found)
    return out


def node_usage(state, node):
    cpu = mem = 0
    for inst in state.instances.values():
        if inst.node_id == node.id and inst.status in ("running", "pending"):
            itype = state.instance_types.get(inst.type)
            if itype:
                cpu += itype.cpu
                mem += itype.ram
    return cpu, mem


def node_item(state, n):
    cpu_used, mem_used = node_usage(state, n)
    return [("nodeId", n.id), ("nodeName", n.name), ("hostId", n.host_id),
            ("clusterId", n.cluster_id), ("status", n.status), ("cpuCores", n.cpu_cores),
            ("cpuSockets", n.cpu_sockets), ("cpuMax", n.cpu_max),
            ("cpuUsed", n.cpu_used + cpu_used), ("memoryMax", n.memory_max),
            ("memoryUsed", n.memory_used + mem_used), ("ip", n.ip), ("mac", n.mac)]


@action("DescribeNodes", params=["NodeId", "ClusterId"])
def describe_nodes(call):
    state, p = call.state, call.params
    node_id, cluster_id = p.get("NodeId"), p.get("ClusterId")
    found = select(state.nodes.values(), [(lambda n: n.id, node_id and {node_id}),
                                          (lambda n: n.cluster_id,
                                           cluster_id and {cluster_id})])
    out = [items("nodeSet", [node_item(state, n) for n in found])]
    poll_all(state, found)
    return out


def instance_type_item(t):
    return [("instanceType", t.id), ("displayName", t.display_name), ("cpu", t.cpu),
            ("ram", t.ram), ("disk", t.disk), ("max", t.max), ("available", t.available),
            ("isBareMetal", t.bare_metal)]


@action("DescribeInstanceTypes", params=[r"InstanceType\.\d+"])
def describe_instance_types(call):
    state = call.state
    wanted = set(call.params.numbered("InstanceType"))
    found = select(state.instance_types.values(), [(lambda t: t.id, wanted)])
    return [items("instanceTypeSet", [instance_type_item(t) for t in found])]


def image_item(state, img):
    return [("imageId", img.id), ("imageLocation", img.location),
            ("imageState", img.status), ("imageOwnerId", state.config.owner_id),
            ("isPublic", True), ("name", img.name), ("architecture", img.architecture),
            ("imageSize", img.size), ("hypervisor", img.hypervisor),
            ("bootloader", img.bootloader), ("contentmode", img.contentmode),
            ("diskBus", img.disk_bus), ("platform", img.platform),
            ("blockDeviceMapping", [("item", [("deviceName", "/dev/vda"),
                                              ("ebs", [("volumeSize", max(1, img.size >> 30)),
                                                       ("deleteOnTermination", True)])])]),
            tag_set(img)]


@action("DescribeImages", params=[r"ImageId\.\d+"], filters=["image-id"])
def describe_images(call):
    state = call.state
    filters = call.filters()
    ids = call.params.numbered("ImageId")
    pool = by_ids(state, "images", ids) if ids else state.images.values()
    found = select(pool, [(lambda i: i.id, set(filters.get("image-id", [])))])
    out = [items("imagesSet", [image_item(state, i) for i in found])]
    poll_all(state, found)
    return out


def storage_item(state, st):
    params = [[("key", k), ("value", v)] for k, v in st.parameters.items()]
    return [("storageId", st.id), ("storageName", st.name), ("storageType", st.type),
            ("location", st.location), ("fileFormat", st.file_format),
            ("disabled", st.disabled), ("status", st.status),
            ("logicSpaceUsed", st.logic_space_used),
            ("logicSpaceMax", st.logic_space_max),
            ("spaceUsed", state.storage_used(st.id)), ("spaceMax", st.space_max),
            items("parameterSet", params)]


@action("DescribeStorages", params=[r"StorageId\.\d+"], filters=["storage-id",
                                                                  "storage-type"])
def describe_storages(call):
    state = call.state
    filters = call.filters()
    wanted = set(call.params.numbered("StorageId")) | set(filters.get("storage-id", []))
    found = select(state.storages.values(),
                   [(lambda s: s.id, wanted),
                    (lambda s: s.type, set(filters.get("storage-type", [])))])
    return [items("storageSet", [storage_item(state, s) for s in found])]

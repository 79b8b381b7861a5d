"""Network actions: VPCs, subnets, security groups (paged) and network interfaces
(created with a chosen or allocated address and MAC, deleted when free)."""

import ipaddress
import re

from . import action, by_ids, paginate, poll_all, result_true, select, tag_set
from ..errors import ApiError, invalid
from ..model import NetworkInterface
from ..xmlout import items

MAC_RE = re.compile(r"^([0-9a-fA-F]{2}:){5}[0-9a-fA-F]{2}$")


def vpc_item(vpc):
    return [("vpcId", vpc.id), ("vpcName", vpc.name), ("state", vpc.status),
            ("cidrBlock", vpc.cidr), ("isPublicNetwork", vpc.public),
            ("shared", vpc.shared), ("ownerId", vpc.owner_id), ("isDefault", False),
            items("cidrBlockAssociationSet", [[
                ("associationId", "vpc-cidr-assoc-" + vpc.id[4:]), ("cidrBlock", vpc.cidr),
                ("cidrBlockState", [("state", "associated")])]]),
            tag_set(vpc)]


@action("DescribeVpcs", params=[r"VpcId\.\d+"], filters=["vpc-id"])
def describe_vpcs(call):
    state = call.state
    f = call.filters()
    ids = call.params.numbered("VpcId")
    pool = by_ids(state, "vpcs", ids) if ids else state.vpcs.values()
    found = select(pool, [(lambda v: v.id, set(f.get("vpc-id", [])))])
    out = [items("vpcSet", [vpc_item(v) for v in found])]
    poll_all(state, found)
    return out


def free_addresses(state, subnet):
    used = set()
    for n in state.network_interfaces.values():
        if n.subnet_id == subnet.id:
            used |= {n.private_ip, *n.secondary_ips}
    net = ipaddress.ip_network(subnet.cidr, strict=False)
    hosts = list(net.hosts())[1:]
    return [str(a) for a in hosts if str(a) not in used]


def subnet_item(state, sn):
    return [("subnetId", sn.id), ("subnetName", sn.name), ("state", sn.status),
            ("vpcId", sn.vpc_id), ("cidrBlock", sn.cidr), ("availabilityZone", sn.zone),
            ("availableIpAddressCount", len(free_addresses(state, sn)))]


@action("DescribeSubnets", params=[r"SubnetId\.\d+"], filters=["vpc-id", "subnet-id"])
def describe_subnets(call):
    state = call.state
    f = call.filters()
    ids = call.params.numbered("SubnetId")
    pool = by_ids(state, "subnets", ids) if ids else state.subnets.values()
    found = select(pool, [(lambda s: s.id, set(f.get("subnet-id", []))),
                          (lambda s: s.vpc_id, set(f.get("vpc-id", [])))])
    out = [items("subnetSet", [subnet_item(state, s) for s in found])]
    poll_all(state, found)
    return out


def permissions(grp, cidr):
    """An address-range rule, and one that admits the members of the group itself
    (named by owner, id and name, as a cloud lists a rule naming a group)."""
    return [[("ipProtocol", "-1"), ("fromPort", 0), ("toPort", 65535),
             items("groups", []), items("ipRanges", [[("cidrIp", cidr)]])],
            [("ipProtocol", "tcp"), ("fromPort", 0), ("toPort", 65535),
             items("groups", [[("userId", grp.owner_id), ("groupId", grp.id),
                               ("groupName", grp.name)]]),
             items("ipRanges", [])]]


def group_item(grp):
    return [("ownerId", grp.owner_id), ("groupId", grp.id), ("groupName", grp.name),
            ("groupDescription", grp.description), ("vpcId", grp.vpc_id),
            ("shared", grp.shared),
            items("ipPermissions", permissions(grp, "0.0.0.0/0")),
            items("ipPermissionsEgress", permissions(grp, "0.0.0.0/0")), tag_set(grp)]


def group_criteria(call):
    f = call.filters()
    ids = call.params.numbered("GroupId")
    by_ids(call.state, "security_groups", ids)
    if ids:
        f = dict(f, **{"group-id": ids + f.get("group-id", [])})
    return f


def matching_groups(state, criteria):
    getters = {"group-id": lambda g: g.id, "owner-id": lambda g: g.owner_id,
               "group-name": lambda g: g.name, "vpc-id": lambda g: g.vpc_id}
    return select(state.security_groups.values(),
                  [(getters[k], set(v)) for k, v in criteria.items()])


@action("DescribeSecurityGroups", params=[r"GroupId\.\d+"],
        filters=["group-id", "owner-id", "group-name", "vpc-id"], paged=True)
def describe_security_groups(call):
    state = call.state
    page, token = paginate(call, "DescribeSecurityGroups",
                           lambda: group_criteria(call),
                           lambda crit: matching_groups(state, crit))
    out = [items("securityGroupInfo", [group_item(g) for g in page])]
    if token:
        out.append(("nextToken", token))
    return out


def nif_item(state, nif):
    subnet = state.subnets.get(nif.subnet_id)
    groups = [[("groupId", g), ("groupName", state.security_groups[g].name)]
              for g in nif.group_ids if g in state.security_groups]
    nodes = [("networkInterfaceId", nif.id), ("subnetId", nif.subnet_id),
             ("vpcId", subnet.vpc_id if subnet else ""),
             ("availabilityZone", subnet.zone if subnet else ""),
             ("ownerId", nif.owner_id), ("status", nif.status),
             ("macAddress", nif.mac), ("privateIpAddress", nif.private_ip),
             items("groupSet", groups)]
    if nif.instance_id:
        nodes.append(("attachment", [("attachmentId", "eni-attach-" + nif.id[4:]),
                                     ("instanceId", nif.instance_id),
                                     ("deviceIndex", 0), ("status", "attached")]))
    if nif.public_ip:
        nodes.append(("association", [("publicIp", nif.public_ip),
                                      ("ipOwnerId", nif.owner_id)]))
    addresses = [[("privateIpAddress", nif.private_ip), ("primary", True)]]
    addresses += [[("privateIpAddress", ip), ("primary", False)] for ip in nif.secondary_ips]
    nodes.append(items("privateIpAddressesSet", addresses))
    nodes.append(tag_set(nif))
    return nodes


@action("DescribeNetworkInterfaces", params=[r"NetworkInterfaceId\.\d+"],
        filters=["network-interface-id", "subnet-id", "attachment.instance-id"])
def describe_network_interfaces(call):
    state = call.state
    f = call.filters()
    ids = call.params.numbered("NetworkInterfaceId")
    pool = by_ids(state, "network_interfaces", ids) if ids else \
        state.network_interfaces.values()
    found = select(pool, [(lambda n: n.id, set(f.get("network-interface-id", []))),
                          (lambda n: n.subnet_id, set(f.get("subnet-id", []))),
                          (lambda n: n.instance_id,
                           set(f.get("attachment.instance-id", [])))])
    out = [items("networkInterfaceSet", [nif_item(state, n) for n in found])]
    poll_all(state, found)
    return out


def new_mac(state):
    used = {n.mac.lower() for n in state.network_interfaces.values()}
    n = len(used)
    while True:
        n += 1
        mac = "52:54:00:%02x:%02x:%02x" % ((n >> 16) & 0xff, (n >> 8) & 0xff, n & 0xff)
        if mac not in used:
            return mac


def chosen_mac(state, mac):
    if not mac:
        return new_mac(state)
    if not MAC_RE.match(mac):
        raise invalid("The MAC address '%s' is invalid" % mac)
    if any(n.mac.lower() == mac.lower() for n in state.network_interfaces.values()):
        raise ApiError("InvalidMacAddress.InUse", "The MAC address '%s' is in use" % mac)
    return mac.lower()


def chosen_ip(state, subnet, ip):
    free = free_addresses(state, subnet)
    if not ip:
        if not free:
            raise ApiError("InsufficientFreeAddressesInSubnet",
                           "The subnet '%s' has no free address" % subnet.id)
        return free[0]
    try:
        addr = ipaddress.ip_address(ip)
    except ValueError:
        raise invalid("The address '%s' is invalid" % ip) from None
    if addr not in ipaddress.ip_network(subnet.cidr, strict=False):
        raise invalid("The address '%s' is outside subnet '%s'" % (ip, subnet.id))
    if ip not in free:
        raise ApiError("InvalidIPAddress.InUse", "The address '%s' is in use" % ip)
    return ip


@action("CreateNetworkInterface", params=["SubnetId", r"SecurityGroupId\.\d+",
                                          "MacAddress", "privateIpAddress",
                                          "Description"])
def create_network_interface(call):
    state, p = call.state, call.params
    subnet = state.get("subnets", p.require("SubnetId"))
    groups = [state.get("security_groups", g).id for g in p.numbered("SecurityGroupId")]
    mac = chosen_mac(state, p.get("MacAddress"))
    ip = chosen_ip(state, subnet, p.get("privateIpAddress"))
    nif = NetworkInterface(id=state.new_id("eni"), origin="api", status="available",
                           subnet_id=subnet.id, group_ids=groups, mac=mac,
                           private_ip=ip, owner_id=state.config.owner_id)
    state.add("network_interfaces", nif)
    return [("networkInterface", nif_item(state, nif))]


@action("DeleteNetworkInterface", params=["NetworkInterfaceId"])
def delete_network_interface(call):
    state = call.state
    nif = state.get("network_interfaces", call.params.require("NetworkInterfaceId"))
    inst = state.instances.get(nif.instance_id)
    if inst is not None and inst.status != "terminated":
        raise ApiError("InvalidNetworkInterface.InUse",
                       "The network interface '%s' is in use by '%s'"
                       % (nif.id, inst.id))
    del state.network_interfaces[nif.id]
    return result_true()

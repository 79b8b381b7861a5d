#include "tavrocloud/common/tavrocloud_list.h"

#include <boost/algorithm/string/predicate.hpp>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <utility>

#include "json_spirit/assign.h"
#include "tavrocloud/common/tavrocloud_restful_client.h"

namespace tavrocloud {

#define ROW(text, value) {text, sizeof(text) - 1, value}

const Key2_Value_T<Sub_Type> SUB_TYPE_TABLE[] = {
    ROW("inventory", SUB_TYPE_INVENTORY), ROW("search", SUB_TYPE_SEARCH), {nullptr, 0, SUB_TYPE_UNKNOWN}};

const Key2_Value_T<View> VIEW_TABLE[] = {
    ROW("instances", VIEW_INSTANCE), ROW("nodes", VIEW_NODE),     ROW("storages", VIEW_STORAGE),
    ROW("recovery", VIEW_RECOVERY),  ROW("volume", VIEW_VOLUME), {nullptr, 0, VIEW_UNKNOWN}};

const Key2_Value_T<Type> TYPE_TABLE[] = {ROW("", TYPE_TOP),
                                         ROW("Cloud", TYPE_CLOUD),
                                         ROW("Cluster", TYPE_CLUSTER),
                                         ROW("Node", TYPE_NODE),
                                         ROW("Instance", TYPE_INSTANCE),
                                         ROW("Flavor", TYPE_FLAVOR),
                                         ROW("Network", TYPE_NETWORK),
                                         ROW("Subnet", TYPE_SUBNET),
                                         ROW("Security_Group", TYPE_SECURITY_GROUP),
                                         ROW("Storage", TYPE_STORAGE),
                                         ROW("Volume", TYPE_VOLUME),
                                         ROW("Hardware", TYPE_HARDWARE),
                                         {nullptr, 0, TYPE_UNKNOWN}};

#undef ROW

Sub_Type name_to_sub_type(const char* name) { return get_key_value_entry(SUB_TYPE_TABLE, name)->value; }
View name_to_view(const char* name) { return get_key_value_entry(VIEW_TABLE, name)->value; }
Type name_to_type(const char* name) { return get_key_value_entry(TYPE_TABLE, name)->value; }

Sub_Type name_to_sub_type(const std::string& name) {
  return get_key_value_entry(SUB_TYPE_TABLE, name.data(), name.size())->value;
}
View name_to_view(const std::string& name) {
  return get_key_value_entry(VIEW_TABLE, name.data(), name.size())->value;
}
Type name_to_type(const std::string& name) {
  return get_key_value_entry(TYPE_TABLE, name.data(), name.size())->value;
}

namespace {

bool name_matches(const std::string& name, const std::string& filter) {
  return filter.empty() || boost::algorithm::icontains(name, filter);
}

std::string status_text(Status status) {
  const char* name = status_to_name(status);
  return name != nullptr ? name : "unknown";
}

Item make_item(const std::string& id, const std::string& name, const char* type,
               bool has_children = false) {
  Item item;
  item.id = id;
  item.name = name;
  item.type = type;
  item.has_children = has_children;
  return item;
}

// The reply objects of `items`, in order; `type` replaces each item's own type when
// not null (searches answer with the search type).
void write_items(const std::vector<Item>& items, const std::string* type,
                 json_spirit::Array& result) {
  result.clear();
  result.reserve(items.size());
  for (const Item& item : items) {
    json_spirit::Object obj;
    json_spirit::insert(obj)("has_children", item.has_children)("name", item.name)(
        "moid", item.id)("type", type != nullptr ? *type : item.type)("size", item.size)(
        "status", item.status)("sub_type", item.sub_type)("extended_attr", item.extended_attr);
    result.push_back(std::move(obj));
  }
}

}  // namespace

Lister::Lister(const std::string& type, const std::string& view, const std::string& moid,
               const std::string& search_type, const std::string& name, RESTful_Client& client)
    : type_(type),
      view_(view),
      moid_(moid),
      search_type_(search_type),
      name_(name),
      client_(client) {}

bool Lister::list(json_spirit::Array& result) {
  std::vector<Item> items;
  bool ok = false;
  switch (name_to_view(view_)) {
    case VIEW_INSTANCE: ok = list_instances(items); break;
    case VIEW_NODE: ok = list_nodes(items); break;
    case VIEW_STORAGE: ok = list_storages(items); break;
    case VIEW_RECOVERY: ok = list_recovery(items); break;
    case VIEW_VOLUME: ok = list_volumes(items); break;
    default: break;
  }
  if (!ok) return false;
  write_items(items, nullptr, result);
  return true;
}

bool Lister::search(json_spirit::Array& result) {
  std::vector<Item> items;
  bool ok = false;
  switch (name_to_type(search_type_)) {
    case TYPE_INSTANCE: ok = load_instances(items, name_); break;
    case TYPE_NODE: ok = load_nodes(items, name_); break;
    case TYPE_CLUSTER: ok = load_clusters(false, items, name_); break;
    case TYPE_STORAGE: ok = load_storages(false, items, name_); break;
    case TYPE_NETWORK: ok = load_vpcs(false, items, name_); break;
    case TYPE_SUBNET: ok = load_subnet(items, name_); break;
    case TYPE_SECURITY_GROUP: ok = load_security_groups(items, name_); break;
    default: break;
  }
  if (!ok) return false;
  write_items(items, &search_type_, result);
  return true;
}

// ---- listing steps --------------------------------------------------------------------

bool Lister::list_instances(std::vector<Item>& items) {
  switch (name_to_type(type_)) {
    case TYPE_TOP: return load_cloud(items);
    case TYPE_CLOUD: return load_instances(items, std::string());
    default: return false;
  }
}

bool Lister::list_nodes(std::vector<Item>& items) {
  switch (name_to_type(type_)) {
    case TYPE_TOP: return load_cloud(items);
    case TYPE_CLOUD: return load_clusters(true, items, std::string());
    case TYPE_CLUSTER: return load_cluster_nodes(true, items);
    case TYPE_NODE: return load_node_instances(items);
    default: return false;
  }
}

bool Lister::list_storages(std::vector<Item>& items) {
  switch (name_to_type(type_)) {
    case TYPE_TOP: return load_cloud(items);
    case TYPE_CLOUD: return load_storages(true, items, std::string());
    case TYPE_STORAGE: return load_storage_instances(items);
    default: return false;
  }
}

bool Lister::list_volumes(std::vector<Item>& items) {
  return name_to_type(type_) == TYPE_INSTANCE && load_instance_volumes(items);
}

bool Lister::list_recovery(std::vector<Item>& items) {
  switch (name_to_type(type_)) {
    case TYPE_CLUSTER: return load_clusters(true, items, std::string());
    case TYPE_NODE: return load_cluster_nodes(false, items);
    case TYPE_STORAGE: return load_storages(false, items, std::string());
    case TYPE_FLAVOR: return load_instance_types(items);
    case TYPE_NETWORK: return load_vpcs(true, items, std::string());
    case TYPE_SUBNET: return load_vpc_subnets(items);
    case TYPE_SECURITY_GROUP: return load_security_groups(items, std::string());
    case TYPE_HARDWARE: return load_hardware(items);
    default: return false;
  }
}

// ---- loaders --------------------------------------------------------------------------

bool Lister::load_cloud(std::vector<Item>& items) {
  Cloud cloud;
  if (!client_.query_cloud(cloud)) return false;
  Item item = make_item(cloud.id, cloud.name, "Cloud", true);
  item.status = status_text(cloud.status);
  items.push_back(std::move(item));
  return true;
}

bool Lister::load_instances(std::vector<Item>& items, const std::string& search_name) {
  Instances instances;
  if (!client_.query_instances(instances)) return false;
  take_instances(instances, search_name, items);
  return true;
}

bool Lister::load_node_instances(std::vector<Item>& items) {
  Instances instances;
  if (!client_.query_node_instances(moid_, instances)) return false;
  take_instances(instances, std::string(), items);
  return true;
}

bool Lister::load_storage_instances(std::vector<Item>& items) {
  Instances instances;
  if (!client_.query_storage_instances(moid_, instances)) return false;
  take_instances(instances, std::string(), items);
  return true;
}

void Lister::take_instances(const Instances& instances, const std::string& search_name,
                            std::vector<Item>& items) {
  // Without a known agent id no instance is skipped as the agent.
  std::string agent_id;
  if (!client_.agent_instance_id(agent_id)) agent_id.clear();
  for (const Instance& instance : instances) {
    if (!name_matches(instance.name, search_name)) continue;
    if (!agent_id.empty() && instance.id == agent_id) continue;
    if (instance.status == TERMINATED) continue;
    Item item = make_item(instance.id, instance.name, "Instance");
    item.status = status_text(instance.status);
    item.size = calculate_instance_size(instance);
    items.push_back(std::move(item));
  }
}

bool Lister::load_clusters(bool has_children, std::vector<Item>& items,
                           const std::string& search_name) {
  Clusters clusters;
  if (!client_.query_clusters(clusters)) return false;
  for (const Cluster& cluster : clusters) {
    if (!name_matches(cluster.name, search_name)) continue;
    Item item = make_item(cluster.id, cluster.name, "Cluster", has_children);
    item.status = status_text(cluster.status);
    items.push_back(std::move(item));
  }
  return true;
}

bool Lister::load_cluster_nodes(bool has_children, std::vector<Item>& items) {
  Nodes nodes;
  Cluster cluster;
  if (!client_.query_cluster_nodes(moid_, nodes) || !client_.query_cluster(moid_, cluster))
    return false;
  for (const Node& node : nodes) {
    Item item = make_item(node.id, node.name, "Node", has_children);
    item.status = status_text(node.status);
    json_spirit::insert(item.extended_attr)("name", cluster.name)("moid", moid_);
    items.push_back(std::move(item));
  }
  return true;
}

bool Lister::load_nodes(std::vector<Item>& items, const std::string& search_name) {
  Nodes nodes;
  if (!client_.query_nodes(nodes)) return false;
  for (const Node& node : nodes) {
    if (!name_matches(node.name, search_name)) continue;
    Cluster cluster;
    if (!client_.query_cluster(node.cluster_id, cluster)) return false;
    Item item = make_item(node.id, node.name, search_type_.c_str());
    item.status = status_text(node.status);
    json_spirit::insert(item.extended_attr)("name", cluster.name)("moid", cluster.id);
    items.push_back(std::move(item));
  }
  return true;
}

bool Lister::load_storages(bool has_children, std::vector<Item>& items,
                           const std::string& search_name) {
  Storages storages;
  if (!client_.query_storages(storages)) return false;
  for (const Storage& storage : storages) {
    if (!name_matches(storage.name, search_name) || storage.disable) continue;
    Item item = make_item(storage.id, storage.name, "Storage", has_children);
    item.size = storage.space_max;
    item.sub_type = storage.type;
    items.push_back(std::move(item));
  }
  return true;
}

bool Lister::load_vpcs(bool has_children, std::vector<Item>& items,
                       const std::string& search_name) {
  Vpcs vpcs;
  if (!client_.query_vpcs(vpcs)) return false;
  for (const Vpc& vpc : vpcs) {
    if (!name_matches(vpc.name, search_name)) continue;
    if (!vpc.shared && vpc.owner_id != moid_) continue;
    Item item = make_item(vpc.id, vpc.name, "Network", has_children);
    item.status = status_text(vpc.status);
    items.push_back(std::move(item));
  }
  return true;
}

bool Lister::load_vpc_subnets(std::vector<Item>& items) {
  Subnets subnets;
  Vpc vpc;
  if (!client_.query_subnets(moid_, subnets) || !client_.query_vpc(moid_, vpc)) return false;
  for (const Subnet& subnet : subnets) {
    Item item = make_item(subnet.id, subnet.name, "Subnet");
    item.status = status_text(subnet.status);
    json_spirit::insert(item.extended_attr)("name", vpc.name)("moid", moid_)("net_segment",
                                                                             subnet.cidr_block);
    items.push_back(std::move(item));
  }
  return true;
}

bool Lister::load_subnet(std::vector<Item>& items, const std::string& search_name) {
  Subnets subnets;
  if (!client_.query_subnets(subnets)) return false;
  for (const Subnet& subnet : subnets) {
    if (!name_matches(subnet.name, search_name)) continue;
    Vpc vpc;
    if (!client_.query_vpc(subnet.vpc_id, vpc)) return false;
    Item item = make_item(subnet.id, subnet.name, search_type_.c_str());
    item.status = status_text(subnet.status);
    json_spirit::insert(item.extended_attr)("name", vpc.name)("moid", vpc.id)("net_segment",
                                                                              subnet.cidr_block);
    items.push_back(std::move(item));
  }
  return true;
}

bool Lister::load_security_groups(std::vector<Item>& items, const std::string& search_name) {
  Security_Groups groups;
  if (!client_.query_security_groups(groups)) return false;
  for (const Security_Group& group : groups) {
    if (!name_matches(group.name, search_name)) continue;
    if (!group.shared && !moid_.empty() && group.owner_id != moid_) continue;
    items.push_back(make_item(group.id, group.name, "Security_Group"));
  }
  return true;
}

bool Lister::load_instance_types(std::vector<Item>& items) {
  Instance_Types types;
  if (!client_.query_instance_types(types)) return false;
  for (const Instance_Type& type : types)
    items.push_back(make_item(type.type, type.display_name, "Flavor"));
  return true;
}

bool Lister::load_hardware(std::vector<Item>& items) {
  Node node;
  if (!client_.query_node(moid_, node)) return false;
  Item item = make_item(node.id, node.name, "Hardware");
  item.status = status_text(node.status);
  json_spirit::insert(item.extended_attr)("cpu_cores", node.cpu_max)(
      "cpu_core_per_num", node.cpu_sockets)("cpu_usage", node.cpu_used)(
      "memory_size", node.memory_max)("memory_usage", node.memory_used);
  items.push_back(std::move(item));
  return true;
}

bool Lister::load_instance_volumes(std::vector<Item>& items) {
  Volumes volumes;
  if (!client_.query_instance_volumes(moid_, volumes)) return false;
  for (const Volume& volume : volumes) {
    Item item = make_item(volume.id, volume.name, "Volume");
    item.size = volume.size;
    json_spirit::insert(item.extended_attr)("is_root", volume.is_root);
    items.push_back(std::move(item));
  }
  return true;
}

int Lister::calculate_instance_size(const Instance& instance) {
  // The cloud's answer is not trusted to keep the sum within an int: it is summed wider
  // and held at the int's bounds.
  int64_t size = 0;
  for (const Volume& volume : instance.volumes) size += volume.size / 1024;
  return static_cast<int>(std::min<int64_t>(INT_MAX, std::max<int64_t>(INT_MIN, size)));
}

}  // namespace tavrocloud

// The console's inventory of a cloud: one listing step (an inventory view expanded one
// level, or a picker of restore targets) or one name search turned into a flat list of
// typed items, each built from one record the cloud client returns. The console list
// handler makes one Lister per request and sends the items it writes.
#ifndef TAVROCLOUD_COMMON_TAVROCLOUD_LIST_H
#define TAVROCLOUD_COMMON_TAVROCLOUD_LIST_H

#include <string>
#include <vector>

#include "json/value.h"
#include "tavrocloud/common/tavrocloud_instance.h"
#include "yolt/key_value.h"

namespace tavrocloud {

class RESTful_Client;

// The kind of a list request.
enum Sub_Type { SUB_TYPE_UNKNOWN = 0, SUB_TYPE_INVENTORY = 1, SUB_TYPE_SEARCH = 2 };

// The inventory view a listing step belongs to.
enum View {
  VIEW_UNKNOWN = 0,
  VIEW_INSTANCE = 1,
  VIEW_NODE = 2,
  VIEW_STORAGE = 3,
  VIEW_RECOVERY = 4,
  VIEW_VOLUME = 5
};

// The type of an item, of the object being expanded, or of what a search looks for.
enum Type {
  TYPE_UNKNOWN = 0,
  TYPE_TOP = 1,  // the empty text: the top of a view
  TYPE_INSTANCE = 2,
  TYPE_NODE = 3,
  TYPE_CLUSTER = 4,
  TYPE_CLOUD = 5,
  TYPE_STORAGE = 6,
  TYPE_FLAVOR = 7,
  TYPE_NETWORK = 8,
  TYPE_SUBNET = 9,
  TYPE_SECURITY_GROUP = 10,
  TYPE_VOLUME = 11,
  TYPE_HARDWARE = 12
};

// The tables, each ended by a row whose key is null and whose value is 0.
extern const Key2_Value_T<Sub_Type> SUB_TYPE_TABLE[];
extern const Key2_Value_T<View> VIEW_TABLE[];
extern const Key2_Value_T<Type> TYPE_TABLE[];

// The value of the NUL-terminated text by exact, case-sensitive match; 0 for any other
// text or a null pointer.
Sub_Type name_to_sub_type(const char* name);
View name_to_view(const char* name);
Type name_to_type(const char* name);
// The same over the whole text: one with a NUL inside names nothing.
Sub_Type name_to_sub_type(const std::string& name);
View name_to_view(const std::string& name);
Type name_to_type(const std::string& name);

// One inventory entry.
struct Item {
  Item() = default;
  Item(Item&&) = default;
  ~Item() = default;

  bool has_children = false;  // whether the console may expand it
  std::string id;
  std::string name;
  double size = 0.0;
  std::string status;
  std::string type;  // one of the Type texts
  std::string sub_type;
  json_spirit::Object extended_attr;
};

class Lister {
 public:
  // The request's "type", "view", "moid", "search_type" and "name" texts (copied) and its
  // logged-in client, which must outlive the lister.
  Lister(const std::string& type, const std::string& view, const std::string& moid,
         const std::string& search_type, const std::string& name, RESTful_Client& client);

  // The listing step of the view and type: true with `result` replaced by one object per
  // item; false, `result` untouched, for an unknown view, a combination without a step or
  // a failed query.
  bool list(json_spirit::Array& result);
  // The search of the search type, filtered by name: as list(), each object's "type"
  // being the search type text.
  bool search(json_spirit::Array& result);

 private:
  bool list_instances(std::vector<Item>& items);
  bool list_nodes(std::vector<Item>& items);
  bool list_storages(std::vector<Item>& items);
  bool list_volumes(std::vector<Item>& items);
  bool list_recovery(std::vector<Item>& items);

  bool load_cloud(std::vector<Item>& items);
  bool load_instances(std::vector<Item>& items, const std::string& search_name);
  bool load_node_instances(std::vector<Item>& items);
  bool load_storage_instances(std::vector<Item>& items);
  bool load_clusters(bool has_children, std::vector<Item>& items, const std::string& search_name);
  bool load_cluster_nodes(bool has_children, std::vector<Item>& items);
  bool load_nodes(std::vector<Item>& items, const std::string& search_name);
  bool load_storages(bool has_children, std::vector<Item>& items, const std::string& search_name);
  bool load_vpcs(bool has_children, std::vector<Item>& items, const std::string& search_name);
  bool load_vpc_subnets(std::vector<Item>& items);
  bool load_subnet(std::vector<Item>& items, const std::string& search_name);
  bool load_security_groups(std::vector<Item>& items, const std::string& search_name);
  bool load_instance_types(std::vector<Item>& items);
  bool load_hardware(std::vector<Item>& items);
  bool load_instance_volumes(std::vector<Item>& items);

  // Items of the instances that are neither the agent itself nor terminated.
  void take_instances(const Instances& instances, const std::string& search_name,
                      std::vector<Item>& items);
  // Sum of the volumes' sizes, each divided by 1024 (truncated) before adding, held
  // within the int's bounds.
  int calculate_instance_size(const Instance& instance);

  const std::string type_;
  const std::string view_;
  const std::string moid_;
  const std::string search_type_;
  const std::string name_;
  RESTful_Client& client_;
};

}  // namespace tavrocloud

#endif  // TAVROCLOUD_COMMON_TAVROCLOUD_LIST_H

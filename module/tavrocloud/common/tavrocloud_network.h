// The network records of the cloud: security groups, subnets, VPCs and network
// interfaces. Read with instances, listed by the console and recreated by a restore.
#ifndef TAVROCLOUD_COMMON_TAVROCLOUD_NETWORK_H
#define TAVROCLOUD_COMMON_TAVROCLOUD_NETWORK_H

#include <string>
#include <vector>

#include "tavrocloud/common/utils.h"

namespace tavrocloud {

struct Security_Group {
  std::string owner_id;
  std::string id;
  std::string name;
  bool shared = false;
};

using Security_Groups = std::vector<Security_Group>;

struct Subnet {
  std::string id;
  std::string name;
  std::string vpc_id;
  std::string cidr_block;
  Status status = UNKNOWN;
};

using Subnets = std::vector<Subnet>;

struct Vpc {
  std::string id;
  std::string name;
  std::string cidr_block;
  Status status = UNKNOWN;
  bool is_public_network = false;
  bool shared = false;
  std::string owner_id;
};

using Vpcs = std::vector<Vpc>;

struct Network_Interface {
  std::string id;
  Network_Interface_Type type = UNKNOWN_TYPE;  // only an instance's embedded JSON gives it
  std::string vpc_id;
  std::string vpc_name;  // no answer fills it
  std::string subnet_id;
  std::string subnet_name;  // no answer fills it
  std::string private_ip;
  std::string public_ip;  // only an instance's embedded JSON gives it
  std::string mac_addr;
  std::string availability_zone;  // no answer fills it
  std::string owner_id;
  Security_Groups groups;
  Status status = UNKNOWN;
};

using Network_Interfaces = std::vector<Network_Interface>;

}  // namespace tavrocloud

#endif  // TAVROCLOUD_COMMON_TAVROCLOUD_NETWORK_H

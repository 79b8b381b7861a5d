#include "backup_set/common/tavro_backup_set.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

Tavro_Backup_Set::Network network(const std::string& ip, std::vector<std::string> groups) {
  Tavro_Backup_Set::Network n;
  n.ip = ip;
  n.vpc_id = "vpc-1";
  n.type = "main";
  for (std::string& g : groups) {
    Tavro_Backup_Set::Security_Group sg;
    sg.id = "sg-" + g;
    sg.name = std::move(g);
    n.groups.push_back(std::move(sg));
  }
  return n;
}

TEST(Tavro_Backup_Set_Records, DefaultsAreEmpty) {
  const Tavro_Backup_Set::Volume v;
  EXPECT_TRUE(v.id.empty() && v.name.empty() && v.device_name.empty() && v.snapshot_id.empty());
  EXPECT_EQ(0u, v.size);
  EXPECT_FALSE(v.is_root);
  const Tavro_Backup_Set::Network n;
  EXPECT_TRUE(n.ip.empty() && n.mac_address.empty() && n.type.empty() && n.groups.empty());
  const Tavro_Backup_Set::Security_Group g;
  EXPECT_TRUE(g.id.empty() && g.name.empty());
  const Tavro_Backup_Set::Instance i{};
  EXPECT_EQ(0u, i.cpu);
  EXPECT_EQ(0u, i.memory);
  const Tavro_Backup_Set::Image im{};
  EXPECT_EQ(0u, im.size);

  const Tavro_Backup_Set s;
  EXPECT_TRUE(s.uuid.empty() && s.instance_id.empty() && s.instance_version.empty());
  EXPECT_EQ(0, s.size);
  EXPECT_EQ(0, s.start_time);
  EXPECT_TRUE(s.networks.empty() && s.volumes.empty() && s.storages.empty() &&
              s.pieces.empty());
  EXPECT_EQ("\t", s.separator());
  EXPECT_TRUE(s.tokens().empty());
}

TEST(Tavro_Backup_Set_Records, CopyIsDeep) {
  Tavro_Backup_Set source;
  source.uuid = "set-1";
  source.instance_info.cpu = 4;
  source.networks.push_back(network("10.0.0.1", {"web", "ssh"}));
  source.networks.push_back(network("10.0.0.2", {"db"}));
  Tavro_Backup_Set::Volume v;
  v.id = "vol-1";
  source.volumes.push_back(v);
  Backup_Piece piece;
  piece.object = "vol-1";
  piece.extended_attrs["Quillon3"] = json_spirit::Value(json_spirit::Object());
  source.add_piece(piece);
  source.add_storage("pool-1", 10, json_spirit::Object());
  source.set_tokens({"uuid"});

  Tavro_Backup_Set copy(source);
  copy.networks[0].groups[1].name = "changed";
  copy.networks[1].groups.clear();
  copy.volumes[0].id = "vol-2";
  copy.pieces[0].extended_attrs["Quillon3"] = json_spirit::Value(1);
  copy.storages[0].pool_uuid = "pool-2";
  copy.instance_info.cpu = 8;
  copy.set_tokens({"name"});

  EXPECT_EQ("ssh", source.networks[0].groups[1].name);
  EXPECT_EQ(1u, source.networks[1].groups.size());
  EXPECT_EQ("vol-1", source.volumes[0].id);
  EXPECT_EQ(json_spirit::Value(json_spirit::Object()), source.pieces[0].extended_attrs["Quillon3"]);
  EXPECT_EQ("pool-1", source.storages[0].pool_uuid);
  EXPECT_EQ(4u, source.instance_info.cpu);
  EXPECT_EQ(std::vector<std::string>{"uuid"}, source.tokens());

  Tavro_Backup_Set assigned;
  assigned = source;
  source.networks[0].ip = "10.9.9.9";
  EXPECT_EQ("10.0.0.1", assigned.networks[0].ip);
  EXPECT_EQ("set-1", assigned.uuid);
}

TEST(Tavro_Backup_Set_Records, PieceAndStorageAssignmentCarryThePrinterState) {
  Backup_Piece a;
  a.path = "p";
  a.size = 7;
  a.set_tokens({"path", "size"});
  a.set_separator(",");
  Backup_Piece b;
  b = a;
  a.path = "q";
  EXPECT_EQ("p", b.path);
  EXPECT_EQ(7u, b.size);
  EXPECT_EQ(",", b.separator());
  EXPECT_EQ(a.tokens(), b.tokens());

  Backup_Set_Storage s("pool-1", 3, json_spirit::Object());
  s.set_tokens({"pool_uuid"});
  Backup_Set_Storage t;
  t = s;
  EXPECT_EQ("pool-1", t.pool_uuid);
  EXPECT_EQ(3u, t.size);
  EXPECT_EQ(s.tokens(), t.tokens());
}

TEST(Tavro_Backup_Set_Records, MovedFromNestedRecordsKeepNumbersAndLoseTexts) {
  Tavro_Backup_Set::Volume v;
  v.id = "a volume identifier longer than any short-string buffer";
  v.name = "root";
  v.size = 20;
  v.is_root = true;
  Tavro_Backup_Set::Volume moved(std::move(v));
  EXPECT_EQ("root", moved.name);
  EXPECT_EQ(20u, v.size);
  EXPECT_TRUE(v.is_root);
  EXPECT_TRUE(v.id.empty());
  EXPECT_TRUE(v.name.empty());

  Tavro_Backup_Set::Network n = network("10.0.0.1", {"web"});
  Tavro_Backup_Set::Network target;
  target = std::move(n);
  EXPECT_EQ(1u, target.groups.size());
  EXPECT_TRUE(n.groups.empty());
  EXPECT_TRUE(n.ip.empty());

  Tavro_Backup_Set::Security_Group g;
  g.name = "web";
  Tavro_Backup_Set::Security_Group h(std::move(g));
  EXPECT_EQ("web", h.name);
  EXPECT_TRUE(g.name.empty());
}

}  // namespace

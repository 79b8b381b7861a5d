#include "tavrocloud/job/backup_set_record.h"

#include "support/log_capture.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

using tavrocloud::Backup_Set_Facts;

tavrocloud::Backup_Params make_params() {
  tavrocloud::Backup_Params p;
  p.backup_type = JOB_DEFINITION_SUBTYPE_FULL;
  p.base.def_id = "def-1";
  p.base.def_name = "nightly";
  p.base.host_id = "cloud-1";
  p.base.resource_uuid = "res-1";
  p.base.pool_uuid = "pool-1";
  p.backup_instance.instance_id = "i-1";
  p.backup_instance.instance_name = "web";
  p.backup_instance.instance_backup_id = "ib-1";
  for (int n = 0; n < 2; ++n) {
    tavrocloud::Volume_Backup_Info v;
    v.vol_id = "v-" + std::to_string(n);
    v.is_root = n == 1;
    v.size = 3;
    v.src_dev_name = "/dev/vd" + std::string(1, char('a' + n));
    v.storage_file_path = "run/i-1";
    v.storage_file_name = "img-" + std::to_string(n);
    p.backup_instance.backup_vols.push_back(v);
  }
  return p;
}

json_spirit::Object written_set() {
  tavrocloud::Instance instance;
  instance.instance_type.cpu = 4;
  instance.image.id = "img-1";
  Backup_Set_Facts facts;
  facts.set_uuid = "00112233-4455-6677-8899-aabbccddeeff";
  facts.source_size = 6ULL << 30;
  facts.storage_size = 12345;
  Tavro_Backup_Set set;
  tavrocloud::fill_backup_set(make_params(), instance, facts, set);
  tavrocloud::Network_Interface iface;
  iface.private_ip = "10.0.0.5";
  iface.groups.resize(2);
  set.networks.push_back(tavrocloud::network_entry(tavrocloud::UNKNOWN_TYPE, iface, "node-1",
                                                   "vpc", ""));
  return set.to_object();
}

TEST(Backup_Set_Record, WrittenSetReadsBack) {
  Tavro_Backup_Set set;
  ASSERT_TRUE(tavrocloud::load_backup_set(written_set(), set));
  EXPECT_EQ(set.uuid, set.incarnation);
  EXPECT_EQ(set.uri, "cloud-1/def-1");
  EXPECT_EQ(set.type, "full");
  EXPECT_EQ(set.size, int64_t{6} << 30);
  EXPECT_EQ(set.instance_info.backup_id, "ib-1");
  EXPECT_EQ(set.instance_info.root_volume_id, "v-1");
  EXPECT_EQ(set.instance_info.cpu, 4u);
  ASSERT_EQ(set.volumes.size(), 2u);
  EXPECT_EQ(set.volumes[1].device_name, "/dev/vdb");
  ASSERT_EQ(set.pieces.size(), 2u);
  EXPECT_EQ(set.pieces[0].path, "run/i-1/img-0");
  EXPECT_EQ(set.pieces[0].size, 3ULL << 30);
  EXPECT_EQ(set.pieces[0].extended_attrs.at("Quillon3").get_obj().at("block_set_size")
                .get_uint64(), 131072u);
  ASSERT_EQ(set.storages.size(), 1u);
  EXPECT_EQ(set.storages[0].size, 12345u);
  ASSERT_EQ(set.networks.size(), 1u);
  EXPECT_EQ(set.networks[0].type, "");  // an unknown type is an empty word
  EXPECT_EQ(set.networks[0].groups.size(), 2u);
}

TEST(Backup_Set_Record, DamagedSetsAreRefusedOrReadLeniently) {
  using Edit = std::function<void(json_spirit::Object&)>;
  struct Case {
    const char* name;
    Edit edit;
    bool ok;
    const char* message;
    size_t pieces;
  };
  auto instance_info = [](json_spirit::Object& o) -> json_spirit::Object& {
    return o.at("instance_info").get_obj();
  };
  const Case cases[] = {
      {"as written", [](json_spirit::Object&) {}, true, "", 2},
      {"one network object",
       [](json_spirit::Object& o) { o["network"] = o.at("network").get_array()[0]; }, true, "",
       2},
      {"no backup_name", [&](json_spirit::Object& o) { instance_info(o).erase("backup_name"); },
       true, "", 2},
      {"a number among the pieces",
       [](json_spirit::Object& o) { o.at("pieces").get_array().push_back(7); }, true, "", 2},
      {"no backup_id", [&](json_spirit::Object& o) { instance_info(o).erase("backup_id"); },
       false, "Failed to parse Tavrocloud backup set:", 0},
      {"size is text", [](json_spirit::Object& o) { o["size"] = "1"; }, false,
       "Failed to parse Tavrocloud backup set:", 0},
      {"no storages", [](json_spirit::Object& o) { o.erase("storages"); }, false,
       "Lack of volumes or storages or pieces in backup set.", 0},
      {"no network", [](json_spirit::Object& o) { o.erase("network"); }, false,
       "Lack of networks in backup set.", 0},
      {"network is text", [](json_spirit::Object& o) { o["network"] = "x"; }, false,
       "Invalid network value type.", 0},
      {"a network without ip",
       [](json_spirit::Object& o) { o.at("network").get_array()[0].get_obj().erase("ip"); },
       false, "Failed to parse Tavrocloud network info:", 0},
      {"a volume without its id",
       [](json_spirit::Object& o) { o.at("volumes").get_array()[0].get_obj().erase("id"); }, false,
       "Failed to parse Tavrocloud backup set:", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    json_spirit::Object obj = written_set();
    c.edit(obj);
    Tavro_Backup_Set set;
    test::Log_Capture log;
    EXPECT_EQ(tavrocloud::load_backup_set(obj, set), c.ok);
    EXPECT_TRUE(*c.message == '\0' || log.contains(c.message)) << log.text();
    if (c.ok) {
      EXPECT_EQ(set.pieces.size(), c.pieces);
    }
  }
}

}  // namespace

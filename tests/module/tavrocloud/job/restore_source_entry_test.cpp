#include "tavrocloud/job/restore_source_entry.h"

#include "json/json_dump.h"
#include "json/json_load.h"
#include "support/log_capture.h"

#include <gtest/gtest.h>

#include <string>

namespace js = json_spirit;
using tavrocloud::Net_Operation;
using tavrocloud::Restore_Source_Entry;

namespace {

js::Value parse(const std::string& text) {
  js::Value v;
  EXPECT_TRUE(js::JSON_Load(text, v)) << text;
  return v;
}

const char* const REQUIRED =
    "\"catalog_uuid\":\"cat-1\",\"backup_start_time\":\"20240501120000\","
    "\"src_instance_id\":\"i-1\",\"src_instance_name\":\"web\"";

// An entry object with the four required keys and `more` members.
js::Value entry(const std::string& more = "") {
  return parse("{" + std::string(REQUIRED) + (more.empty() ? "" : "," + more) + "}");
}

const char* const NIC_BASE =
    "\"vpc_id\":\"vpc-1\",\"vpc_name\":\"main\",\"subnet_id\":\"sn-1\",\"subnet_name\":\"front\"";

TEST(Restore_Source_Entry, TheFourRequiredKeysAreEnough) {
  test::Log_Capture log;
  Restore_Source_Entry e;
  ASSERT_TRUE(e.load(entry()));
  EXPECT_EQ("cat-1", e.catalog_uuid);
  EXPECT_EQ("20240501120000", e.backup_start_time);
  EXPECT_EQ("i-1", e.instance_src_id);
  EXPECT_EQ("web", e.instance_src_name);
  EXPECT_TRUE(e.instance_tgt_id.empty() && e.instance_tgt_name.empty() &&
              e.target_cluster_id.empty() && e.target_node_id.empty() && e.owner_id.empty());
  EXPECT_TRUE(e.flavor.type.empty() && e.flavor.display_name.empty());
  EXPECT_EQ(0, e.flavor.cpu);
  EXPECT_EQ(0, e.flavor.ram);
  EXPECT_TRUE(e.nics.empty());
  EXPECT_TRUE(e.volumes.empty());
  EXPECT_TRUE(e.storage_id.empty() && e.platform.empty() && e.image_type.empty());
  EXPECT_TRUE(log.entries().empty());
}

TEST(Restore_Source_Entry, ReadsTargetsAndFlavor) {
  Restore_Source_Entry e;
  ASSERT_TRUE(e.load(entry(
      "\"owner_id\":\"o-1\",\"target_instance_id\":\"i-9\",\"target_instance_name\":\"web-2\","
      "\"target_cluster_id\":\"c-1\",\"target_cluster_name\":\"zone-a\","
      "\"target_node_id\":\"n-1\",\"target_node_name\":\"node\",\"unknown\":[1,2],"
      "\"flavor\":{\"type\":\"m1.large\",\"display_name\":\"Large\",\"cpu\":4,\"ram\":8192}")));
  EXPECT_EQ("o-1", e.owner_id);
  EXPECT_EQ("i-9", e.instance_tgt_id);
  EXPECT_EQ("web-2", e.instance_tgt_name);
  EXPECT_EQ("c-1", e.target_cluster_id);
  EXPECT_EQ("zone-a", e.target_cluster_name);
  EXPECT_EQ("n-1", e.target_node_id);
  EXPECT_EQ("node", e.target_node_name);
  EXPECT_EQ("m1.large", e.flavor.type);
  EXPECT_EQ("Large", e.flavor.display_name);
  EXPECT_EQ(4, e.flavor.cpu);
  EXPECT_EQ(8192, e.flavor.ram);
}

TEST(Restore_Source_Entry, RefusesWhatTheRestoreCannotUse) {
  struct Case {
    const char* what;
    std::string text;
    const char* first_message;   // the inner reader's line, when there is one
    const char* detail;          // what the entry's own line names
  };
  const std::string nic_without_name =
      "\"nic\":[{" + std::string(NIC_BASE) + ",\"security_groups\":[{\"security_group_id\":\"sg\"}]}]";
  const Case cases[] = {
      {"not an object", "[1]", nullptr, ""},
      {"no catalog uuid",
       "{\"backup_start_time\":\"t\",\"src_instance_id\":\"i\",\"src_instance_name\":\"n\"}",
       nullptr, "catalog_uuid"},
      {"instance name a number",
       "{\"catalog_uuid\":\"c\",\"backup_start_time\":\"t\",\"src_instance_id\":\"i\","
       "\"src_instance_name\":5}",
       nullptr, "src_instance_name"},
      {"flavor without ram",
       "{" + std::string(REQUIRED) +
           ",\"flavor\":{\"type\":\"t\",\"display_name\":\"d\",\"cpu\":1}}",
       nullptr, "ram"},
      {"interface without subnet name",
       "{" + std::string(REQUIRED) +
           ",\"nic\":[{\"vpc_id\":\"v\",\"vpc_name\":\"n\",\"subnet_id\":\"s\"}]}",
       "Failed to parse network in restore source entry : ", "Failed to load elem content from JSON"},
      {"group without name", "{" + std::string(REQUIRED) + "," + nic_without_name + "}",
       "Failed to parse network in restore source entry : ", "Failed to load elem content from JSON"},
      {"volume size a string",
       "{" + std::string(REQUIRED) +
           ",\"volumes\":[{\"id\":\"v\",\"name\":\"n\",\"size\":\"20\",\"storage_id\":\"s\","
           "\"storage_type\":\"ceph\"}]}",
       "Failed to parse volume in restore source entry : ", "Failed to load elem content from JSON"},
      {"volume without storage type",
       "{" + std::string(REQUIRED) +
           ",\"volumes\":[{\"id\":\"v\",\"name\":\"n\",\"size\":20,\"storage_id\":\"s\"}]}",
       "Failed to parse volume in restore source entry : ", "Failed to load elem content from JSON"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::Log_Capture log;
    Restore_Source_Entry e;
    EXPECT_FALSE(e.load(parse(c.text)));
    const auto entries = log.entries();
    ASSERT_EQ(c.first_message ? 2u : 1u, entries.size()) << log.text();
    if (c.first_message) {
      EXPECT_EQ(0u, entries[0].text.find(c.first_message)) << entries[0].text;
      EXPECT_EQ(LM_ERROR, entries[0].priority);
    }
    EXPECT_EQ(0u, entries.back().text.find("Failed to parse restore source entry : "))
        << entries.back().text;
    EXPECT_NE(std::string::npos, entries.back().text.find(c.detail)) << entries.back().text;
    EXPECT_EQ(LM_ERROR, entries.back().priority);
  }
}

// A failed load leaves what it read before the failing key; the caller discards the entry.
TEST(Restore_Source_Entry, FailedLoadKeepsWhatWasReadBeforeTheFailure) {
  test::Log_Capture log;
  Restore_Source_Entry e;
  EXPECT_FALSE(e.load(entry(
      "\"target_node_id\":\"n-1\","
      "\"flavor\":{\"type\":\"m1\",\"display_name\":\"M1\",\"cpu\":3,\"ram\":\"big\"}")));
  EXPECT_EQ("cat-1", e.catalog_uuid);
  EXPECT_EQ("n-1", e.target_node_id);
  EXPECT_EQ("m1", e.flavor.type);
  EXPECT_EQ("M1", e.flavor.display_name);
  EXPECT_EQ(3, e.flavor.cpu);
  EXPECT_EQ(0, e.flavor.ram);
  EXPECT_TRUE(log.contains("Failed to parse restore source entry : ", LM_ERROR));
}

TEST(Restore_Source_Entry, ReadsInterfacesInOrderWithTheirAddressChoices) {
  const std::string nics =
      "\"nic\":[7,{" + std::string(NIC_BASE) +
      ",\"mac_address\":\"52:54:00:00:00:01\",\"type\":\"main\",\"ip_address\":\"10.0.0.4\","
      "\"ip_op\":\"specify\",\"mac_op\":\"reserve\",\"security_groups\":["
      "{\"security_group_id\":\"sg-1\",\"security_group_name\":\"web\"},\"x\","
      "{\"security_group_id\":\"sg-2\",\"security_group_name\":\"ssh\"}]},"
      "{" + std::string(NIC_BASE) + ",\"ip_op\":\"Reserve\",\"mac_op\":7},"
      "{" + std::string(NIC_BASE) + ",\"ip_op\":\"auto\",\"mac_op\":\"\"}]";
  Restore_Source_Entry e;
  ASSERT_TRUE(e.load(entry(nics)));
  ASSERT_EQ(3u, e.nics.size());
  const Restore_Source_Entry::NIC& first = e.nics[0];
  EXPECT_EQ("vpc-1", first.vpc_id);
  EXPECT_EQ("front", first.subnet_name);
  EXPECT_EQ("10.0.0.4", first.ip_address);
  EXPECT_EQ(Net_Operation::SPECIFY, first.ip_op);
  EXPECT_EQ(Net_Operation::RESERVE, first.mac_op);
  ASSERT_EQ(2u, first.groups.size());
  EXPECT_EQ("sg-1", first.groups[0].id);
  EXPECT_EQ("ssh", first.groups[1].name);
  // Only exact words count; a key of another type keeps the default.
  EXPECT_EQ(Net_Operation::UNKNOWN, e.nics[1].ip_op);
  EXPECT_EQ(Net_Operation::AUTO, e.nics[1].mac_op);
  EXPECT_TRUE(e.nics[1].groups.empty());
  EXPECT_EQ(Net_Operation::AUTO, e.nics[2].ip_op);
  EXPECT_EQ(Net_Operation::UNKNOWN, e.nics[2].mac_op);

  Restore_Source_Entry plain;
  ASSERT_TRUE(plain.load(entry("\"nic\":[{" + std::string(NIC_BASE) + "}]")));
  EXPECT_EQ(Net_Operation::AUTO, plain.nics[0].ip_op);
  EXPECT_EQ(Net_Operation::AUTO, plain.nics[0].mac_op);

  // The job source's key is "nic"; "nics" (the dump's name) is not read.
  Restore_Source_Entry misspelt;
  ASSERT_TRUE(misspelt.load(entry("\"nics\":[{" + std::string(NIC_BASE) + "}]")));
  EXPECT_TRUE(misspelt.nics.empty());
}

TEST(Restore_Source_Entry, ReadsVolumesInOrder) {
  Restore_Source_Entry e;
  ASSERT_TRUE(e.load(entry(
      "\"volumes\":[{\"id\":\"vol-1\",\"name\":\"root\",\"size\":20,\"storage_id\":\"st-1\","
      "\"storage_name\":\"fast\",\"storage_type\":\"ceph\"},null,"
      "{\"id\":\"vol-2\",\"name\":\"data\",\"size\":1099511627776,\"storage_id\":\"st-2\","
      "\"storage_type\":\"nfs_raw\"}]")));
  ASSERT_EQ(2u, e.volumes.size());
  EXPECT_EQ("vol-1", e.volumes[0].id);
  EXPECT_EQ("fast", e.volumes[0].storage_name);
  EXPECT_EQ(20u, e.volumes[0].size);
  EXPECT_EQ("vol-2", e.volumes[1].id);
  EXPECT_EQ("", e.volumes[1].storage_name);
  EXPECT_EQ(1099511627776u, e.volumes[1].size);
  EXPECT_EQ("nfs_raw", e.volumes[1].storage_type);

  test::Log_Capture log;
  Restore_Source_Entry negative;
  EXPECT_FALSE(negative.load(entry(
      "\"volumes\":[{\"id\":\"v\",\"name\":\"n\",\"size\":-1,\"storage_id\":\"s\","
      "\"storage_type\":\"t\"}]")));
}

TEST(Restore_Source_Entry, DumpDescribesTheEntry) {
  Restore_Source_Entry e;
  ASSERT_TRUE(e.load(entry(
      "\"target_instance_id\":\"i-9\",\"target_instance_name\":\"web-2\","
      "\"flavor\":{\"type\":\"m1\",\"display_name\":\"M1\",\"cpu\":2,\"ram\":2048},"
      "\"nic\":[{" + std::string(NIC_BASE) +
      ",\"ip_address\":\"10.0.0.4\",\"ip_op\":\"specify\",\"mac_address\":\"m\",\"type\":\"main\","
      "\"security_groups\":[{\"security_group_id\":\"sg-1\",\"security_group_name\":\"web\"}]}],"
      "\"volumes\":[{\"id\":\"vol-1\",\"name\":\"root\",\"size\":20,\"storage_id\":\"st-1\","
      "\"storage_type\":\"ceph\"}]")));
  const js::Object dump = e.dump();
  const js::Value expected = parse(
      "{\"catalog_uuid\":\"cat-1\",\"backup_start_time\":\"20240501120000\","
      "\"src_instance_id\":\"i-1\",\"src_instance_name\":\"web\",\"owner_id\":\"\","
      "\"target_instance_name\":\"web-2\","
      "\"flavor\":{\"type\":\"m1\",\"display_name\":\"M1\",\"cpu\":2,\"ram\":2048},"
      "\"target_cluster_id\":\"\",\"target_cluster_name\":\"\",\"target_node_id\":\"\","
      "\"target_node_name\":\"\","
      "\"nics\":[{\"vpc_id\":\"vpc-1\",\"vpc_name\":\"main\",\"subnet_id\":\"sn-1\","
      "\"subnet_name\":\"front\",\"mac_address\":\"m\",\"type\":\"main\","
      "\"security_groups\":[{\"security_group_id\":\"sg-1\",\"security_group_name\":\"web\"}]}],"
      "\"volumes\":[{\"id\":\"vol-1\",\"name\":\"root\",\"size\":20,\"storage_id\":\"st-1\","
      "\"storage_name\":\"\",\"storage_type\":\"ceph\"}]}");
  EXPECT_EQ(js::JSON_Dump(expected), js::JSON_Dump(js::Value(dump)));
  EXPECT_EQ(nullptr, js::object_get_value(dump, "target_instance_id"));

  // The volume writer's form reads back through the volume reader.
  Restore_Source_Entry::Volume again;
  EXPECT_TRUE(again << js::object_get_array_or_throw(dump, "volumes")[0].get_obj());
  EXPECT_EQ("vol-1", again.id);
  EXPECT_EQ(20u, again.size);
}

}  // namespace

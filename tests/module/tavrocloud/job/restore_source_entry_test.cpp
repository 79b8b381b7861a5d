#include "tavrocloud/job/restore_source_entry.h"

#include "json/json_load.h"
#include "support/log_capture.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using tavrocloud::Restore_Source_Entry;

const std::string REQUIRED = R"({"catalog_uuid": "cat-1", "backup_start_time": "20240501120000",
                                 "src_instance_id": "i-1", "src_instance_name": "web")";
const std::string NIC = R"("vpc_id": "v", "vpc_name": "v", "subnet_id": "s", "subnet_name": "s")";
const std::string VOLUME = R"(, "volumes": [{"id": "v", "name": "n", "storage_id": "s", )";
const char BAD_NIC[] = "Failed to parse network in restore source entry : ";
const char BAD_VOLUME[] = "Failed to parse volume in restore source entry : ";

// What an entry read holds: the target, the flavour's memory, each interface's type,
// groups and address choices (0 unknown, 1 auto, 2 reserve, 3 specify), each volume's
// id and size.
std::string summary(const Restore_Source_Entry& e) {
  std::string out = e.instance_tgt_id + " " + std::to_string(e.flavor.ram) + " |";
  for (const auto& n : e.nics)
    out += " " + n.type + std::to_string(n.groups.size()) + "/" +
           std::to_string(static_cast<int>(n.ip_op)) + "/" +
           std::to_string(static_cast<int>(n.mac_op));
  for (const auto& v : e.volumes) out += " " + v.id + ":" + std::to_string(v.size);
  return out;
}

// Interfaces and volumes keep their order, members that are not objects are skipped,
// address choices are exact words; the interfaces are read from "nic" only. A bad entry
// fails whole; a bad interface or volume logs its own line first.
TEST(Restore_Source_Entry, ReadsAnEntryOrRefusesIt) {
  const struct {
    std::string text;
    const char* want;  // the summary; or the interface's or volume's line, "" when none
  } cases[] = {
      {REQUIRED + R"(, "nics": [{)" + NIC + "}]}", " 0 |"},
      {REQUIRED + R"(, "target_instance_id": "i-9",
          "flavor": {"type": "m1", "display_name": "M1", "cpu": 2, "ram": 2048},
          "nic": [7, {)" + NIC + R"(, "type": "main", "ip_op": "specify", "mac_op": "reserve",
              "security_groups": [{"security_group_id": "sg-1", "security_group_name": "w"}, "x"]},
              {)" + NIC + R"(, "ip_op": "Reserve", "mac_op": 7},
              {)" + NIC + R"(, "ip_op": "auto", "mac_op": ""}])" +
           VOLUME + R"("size": 20, "storage_type": "ceph"}, null, {"id": "vol-2", "name": "d",
              "size": 1099511627776, "storage_id": "st-2", "storage_type": "nfs_raw"}]})",
       "i-9 2048 | main1/3/2 0/0/1 0/1/0 v:20 vol-2:1099511627776"},
      {"[1]", ""},
      {R"({"backup_start_time": "t", "src_instance_id": "i", "src_instance_name": "n"})", ""},
      {REQUIRED + R"(, "flavor": {"type": "t", "display_name": "d", "cpu": 1}})", ""},
      {REQUIRED + R"(, "nic": [{"vpc_id": "v", "vpc_name": "n", "subnet_id": "s"}]})", BAD_NIC},
      {REQUIRED + VOLUME + R"("size": "20", "storage_type": "c"}]})", BAD_VOLUME},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    test::Log_Capture log;
    Restore_Source_Entry e;
    if (e.load(json_spirit::JSON_Load(c.text))) {
      EXPECT_EQ(summary(e), c.want);
      EXPECT_TRUE(log.entries().empty()) << log.text();
      continue;
    }
    const auto lines = log.entries();
    ASSERT_EQ(lines.size(), *c.want ? 2u : 1u) << log.text();
    const std::string whole = "Failed to parse restore source entry : ";
    EXPECT_EQ(lines[0].text.find(*c.want ? c.want : whole), 0u) << log.text();
    EXPECT_EQ(lines.back().text.find(whole), 0u);
    EXPECT_EQ(lines.back().priority, LM_ERROR);
  }
}

}  // namespace

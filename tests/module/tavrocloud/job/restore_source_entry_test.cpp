#include "tavrocloud/job/restore_source_entry.h"

#include "json/json_load.h"
#include "support/log_capture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace js = json_spirit;
using tavrocloud::Net_Operation;
using tavrocloud::Restore_Source_Entry;

namespace {

const std::string REQUIRED =
    R"("catalog_uuid": "cat-1", "backup_start_time": "20240501120000",
       "src_instance_id": "i-1", "src_instance_name": "web")";
const std::string NIC = R"("vpc_id": "vpc-1", "vpc_name": "v", "subnet_id": "sn-1", "subnet_name": "s")";

js::Value entry(const std::string& more = "") {
  return js::JSON_Load("{" + REQUIRED + (more.empty() ? "" : "," + more) + "}");
}

// Interfaces and volumes keep their order, members that are not objects are skipped,
// address choices are exact words; the interfaces are read from "nic" only.
TEST(Restore_Source_Entry, ReadsAnEntry) {
  test::Log_Capture log;
  Restore_Source_Entry minimal;
  ASSERT_TRUE(minimal.load(entry(R"("nics": [{)" + NIC + "}]")));
  EXPECT_TRUE(minimal.nics.empty() && minimal.volumes.empty() && minimal.flavor.cpu == 0);
  EXPECT_TRUE(log.entries().empty()) << log.text();

  Restore_Source_Entry e;
  ASSERT_TRUE(e.load(entry(R"("target_instance_id": "i-9", "flavor": {"type": "m1", "display_name": "M1", "cpu": 2, "ram": 2048},
      "nic": [7, {)" + NIC + R"(, "type": "main", "ip_op": "specify", "mac_op": "reserve",
                  "security_groups": [{"security_group_id": "sg-1", "security_group_name": "w"}, "x"]},
              {)" + NIC + R"(, "ip_op": "Reserve", "mac_op": 7}, {)" + NIC + R"(, "ip_op": "auto", "mac_op": ""}],
      "volumes": [{"id": "vol-1", "name": "root", "size": 20, "storage_id": "st-1", "storage_type": "ceph"}, null,
                  {"id": "vol-2", "name": "d", "size": 1099511627776, "storage_id": "st-2", "storage_type": "nfs_raw"}])")));
  ASSERT_EQ(e.nics.size(), 3u);
  std::vector<Net_Operation> ops;
  for (const Restore_Source_Entry::NIC& n : e.nics) ops.insert(ops.end(), {n.ip_op, n.mac_op});
  EXPECT_EQ(ops, (std::vector<Net_Operation>{Net_Operation::SPECIFY, Net_Operation::RESERVE,
                                             Net_Operation::UNKNOWN, Net_Operation::AUTO,
                                             Net_Operation::AUTO, Net_Operation::UNKNOWN}));
  EXPECT_EQ(e.nics[0].type + " " + std::to_string(e.nics[0].groups.size()) + " " + e.instance_tgt_id + " " +
                std::to_string(e.flavor.ram) + " " + e.volumes.at(1).id + " " + std::to_string(e.volumes[1].size),
            "main 1 i-9 2048 vol-2 1099511627776");
}

// A bad entry fails whole; a bad interface or volume logs its own line first.
TEST(Restore_Source_Entry, RefusesWhatTheRestoreCannotUse) {
  const std::string volume = R"("volumes": [{"id": "v", "name": "n", "storage_id": "s", )";
  const struct {
    std::string text;
    const char* inner;  // the interface's or volume's line, when there is one
  } cases[] = {
      {"[1]", nullptr},
      {R"({"backup_start_time": "t", "src_instance_id": "i", "src_instance_name": "n"})", nullptr},
      {"{" + REQUIRED + R"(, "flavor": {"type": "t", "display_name": "d", "cpu": 1}})", nullptr},
      {"{" + REQUIRED + R"(, "nic": [{"vpc_id": "v", "vpc_name": "n", "subnet_id": "s"}]})",
       "Failed to parse network in restore source entry : "},
      {"{" + REQUIRED + R"(, "nic": [{)" + NIC +
           R"(, "security_groups": [{"security_group_id": "sg"}]}]})",
       "Failed to parse network in restore source entry : "},
      {"{" + REQUIRED + "," + volume + R"("size": "20", "storage_type": "c"}]})",
       "Failed to parse volume in restore source entry : "},
      {"{" + REQUIRED + "," + volume + R"("size": 20}]})",
       "Failed to parse volume in restore source entry : "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    test::Log_Capture log;
    Restore_Source_Entry e;
    EXPECT_FALSE(e.load(js::JSON_Load(c.text)));
    const auto lines = log.entries();
    ASSERT_EQ(lines.size(), c.inner ? 2u : 1u) << log.text();
    EXPECT_EQ(c.inner ? lines[0].text.find(c.inner) : 0u, 0u) << lines[0].text;
    EXPECT_EQ(lines.back().text.find("Failed to parse restore source entry : "), 0u);
    EXPECT_EQ(lines.back().priority, LM_ERROR);
  }
}

}  // namespace

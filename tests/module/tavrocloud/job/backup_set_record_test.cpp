#include "tavrocloud/job/backup_set_record.h"

#include "json/json_dump.h"
#include "support/log_capture.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

using json_spirit::JSON_Dump;
using tavrocloud::Backup_Set_Facts;

const char SET_UUID[] = "00112233-4455-6677-8899-aabbccddeeff";
const char PARSE[] = "Failed to parse Tavrocloud backup set:";
// The fields of a written set that the restore's reader has no use for.
const char* const UNREAD[] = {"def_id", "host_id", "minor_resource_id", "resource_name",
                              "resource_uuid", "start_time", "end_time"};

// The set a backup of instance "web" with a data volume and a root volume writes.
json_spirit::Object written_set() {
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
    tavrocloud::Volume_Backup_Info& v = p.backup_instance.backup_vols.emplace_back();
    v.vol_id = "v-" + std::to_string(n);
    v.is_root = n == 1;
    v.size = 3;
    v.src_dev_name = "/dev/vd" + std::string(1, char('a' + n));
    v.storage_file_path = "run/i-1";
    v.storage_file_name = "img-" + std::to_string(n);
  }
  tavrocloud::Instance instance;
  instance.instance_type.cpu = 4;
  instance.image.id = "img-1";
  Backup_Set_Facts facts;
  facts.set_uuid = SET_UUID;
  facts.start_time = 1714564800;
  facts.end_time = 1714565100;
  facts.source_size = 6ULL << 30;
  facts.storage_size = 12345;
  Tavro_Backup_Set set;
  tavrocloud::fill_backup_set(p, instance, facts, set);
  tavrocloud::Network_Interface iface;
  iface.private_ip = "10.0.0.5";
  iface.groups.resize(2);
  using tavrocloud::network_entry;
  set.networks.push_back(network_entry(tavrocloud::UNKNOWN_TYPE, iface, "node-1", "vpc", ""));
  return set.to_object();
}

// What the backup writes reads back whole but for the fields a restore has no use for;
// the fields below carry a rule of the writer.
TEST(Backup_Set_Record, WrittenSetReadsBack) {
  const json_spirit::Object written = written_set();
  Tavro_Backup_Set set;
  ASSERT_TRUE(tavrocloud::load_backup_set(written, set));
  json_spirit::Object want = written, got = set.to_object();
  for (const char* unread : UNREAD) {
    want.erase(unread);
    got.erase(unread);
  }
  EXPECT_EQ(JSON_Dump(got), JSON_Dump(want));
  const Backup_Piece& piece = set.pieces.at(0);
  EXPECT_EQ(set.incarnation + " " + set.uri + " " + set.type + " " + std::to_string(set.size) +
                " " + set.instance_info.root_volume_id + " " + piece.path + " " +
                std::to_string(piece.size) + " " + set.networks.at(0).type + "|" +
                JSON_Dump(piece.extended_attrs) + std::to_string(set.storages.at(0).size) + " " +
                JSON_Dump(written.at("start_time")) + ".." + JSON_Dump(written.at("end_time")),
            std::string(SET_UUID) + " cloud-1/def-1 full 6442450944 v-1 run/i-1/img-0 3221225472 |"
                                    R"({"Quillon3":{"block_set_size":131072}}12345)"
                                    " 1714564800..1714565100");
}

// Lenient where a reader can do without (one network object, no backup name, a stray
// non-object piece); a missing or mistyped field the restore needs refuses the set.
TEST(Backup_Set_Record, DamagedSetsAreRefusedOrReadLeniently) {
  using O = json_spirit::Object;
  const auto at = [](O& o, const char* key) -> O& { return o.at(key).get_array()[0].get_obj(); };
  const auto info = [](O& o) -> O& { return o.at("instance_info").get_obj(); };
  const struct {
    const char* name;
    std::function<void(O&)> edit;
    const char* message;  // null: read, with both pieces
  } cases[] = {
      {"one network object", [&](O& o) { o["network"] = at(o, "network"); }, nullptr},
      {"no backup_name", [&](O& o) { info(o).erase("backup_name"); }, nullptr},
      {"a number among the pieces", [](O& o) { o.at("pieces").get_array().push_back(7); }, nullptr},
      {"no backup_id", [&](O& o) { info(o).erase("backup_id"); }, PARSE},
      {"size is text", [](O& o) { o["size"] = "1"; }, PARSE},
      {"no storages", [](O& o) { o.erase("storages"); },
       "Lack of volumes or storages or pieces in backup set."},
      {"no network", [](O& o) { o.erase("network"); }, "Lack of networks in backup set."},
      {"network is text", [](O& o) { o["network"] = "x"; }, "Invalid network value type."},
      {"a network without ip", [&](O& o) { at(o, "network").erase("ip"); },
       "Failed to parse Tavrocloud network info:"},
      {"a volume without its id", [&](O& o) { at(o, "volumes").erase("id"); }, PARSE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    O obj = written_set();
    c.edit(obj);
    Tavro_Backup_Set set;
    test::Log_Capture log;
    EXPECT_EQ(tavrocloud::load_backup_set(obj, set), c.message == nullptr);
    EXPECT_TRUE(c.message ? log.contains(c.message) : set.pieces.size() == 2) << log.text();
  }
}

}  // namespace

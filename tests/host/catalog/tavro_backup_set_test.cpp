#include "backup_set/common/tavro_backup_set.h"

#include "json/json_dump.h"
#include "sample_sets.h"
#include "support/log_capture.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

namespace js = json_spirit;

namespace {

using test::parse;

js::Object sample_object() {
  return parse(test::sample_set("set-1", "res-1", "i-1", 1714564800).to_json());
}

TEST(Tavro_Backup_Set, RoundTripsEveryFieldThroughItsJsonForm) {
  const Tavro_Backup_Set s = test::sample_set("set-1", "res-1", "i-1", 1714564800);
  const JSON_Generator& as_generator = s;
  Tavro_Backup_Set back;
  back.load(parse(as_generator.to_json()));

  // The sample fills every field with a value of its own, nested lists included.
  EXPECT_EQ(js::JSON_Dump(js::Value(s.to_object())), js::JSON_Dump(js::Value(back.to_object())));
  EXPECT_EQ(2u, back.networks.at(1).groups.size());
  EXPECT_EQ(2u, back.get_pieces("vol-root").size() + back.get_pieces("vol-data").size());
}

TEST(Tavro_Backup_Set, WritesEveryKeyTheRestoreReadsEvenWhenEmpty) {
  const js::Object obj = parse(Tavro_Backup_Set().to_json());
  for (const char* key : {"instance_name", "instance_id", "name", "type", "instance_version",
                          "uri", "uuid", "uid", "incarnation"}) {
    EXPECT_NE(nullptr, js::object_get_str(obj, key)) << key;
  }
  for (const char* key : {"size", "source_size"}) {
    EXPECT_NO_THROW(js::object_get_int64_or_throw(obj, key)) << key;
  }
  for (const char* key : {"network", "volumes", "storages", "pieces"}) {
    const js::Array* arr = js::object_get_array(obj, key);
    ASSERT_NE(nullptr, arr) << key;
    EXPECT_TRUE(arr->empty()) << key;
  }
  const js::Object& info = js::object_get_object_or_throw(obj, "instance_info");
  for (const char* key : {"backup_id", "type", "display_name", "availability_zone", "owner_id",
                          "schedule_tag", "storage_schedule_tag", "storage_id",
                          "root_volume_id", "platform"}) {
    EXPECT_NE(nullptr, js::object_get_str(info, key)) << key;
  }
  EXPECT_EQ(0u, js::object_get_uint64_or_throw(info, "cpu"));
  EXPECT_EQ(0u, js::object_get_uint64_or_throw(info, "memory"));
  const js::Object& image = js::object_get_object_or_throw(obj, "image_info");
  EXPECT_EQ(0u, js::object_get_uint64_or_throw(image, "size"));
  for (const char* key : {"id", "name", "location", "architecture", "hypervisor", "boot_loader",
                          "content_mode", "disk_bus", "storage_id"}) {
    EXPECT_NE(nullptr, js::object_get_str(image, key)) << key;
  }
  Tavro_Backup_Set back;
  EXPECT_NO_THROW(back.load(obj));
  EXPECT_STREQ("tavro", back.module());
}

// The instance type's cpu and memory are signed in the cloud's answers and sign-extended
// into the record, so a negative one arrives as a number beyond INT64_MAX; sizes may be
// anything a 64-bit counter holds. Every such value must come back from the catalog's
// text unchanged, or the whole record would no longer read at restore time.
TEST(Tavro_Backup_Set, ExtremeNumbersSurviveTheJsonText) {
  struct Case {
    const char* what;
    uint64_t unsigned_value;
    int64_t signed_value;
  };
  const Case cases[] = {
      {"zero", 0, 0},
      {"largest signed", uint64_t{INT64_MAX}, INT64_MAX},
      {"first beyond signed", uint64_t{INT64_MAX} + 1, INT64_MIN},
      {"sign-extended -1", static_cast<uint64_t>(int64_t{-1}), -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Tavro_Backup_Set s = test::sample_set("set-1", "res-1", "i-1", 1714564800);
    s.instance_info.cpu = c.unsigned_value;
    s.instance_info.memory = c.unsigned_value;
    s.image_info.size = c.unsigned_value;
    s.volumes[0].size = c.unsigned_value;
    s.pieces[0].size = c.unsigned_value;
    s.storages[0].size = c.unsigned_value;
    s.size = c.signed_value;
    s.source_size = c.signed_value;
    Tavro_Backup_Set back;
    ASSERT_NO_THROW(back.load(parse(s.to_json())));
    EXPECT_EQ(js::JSON_Dump(js::Value(s.to_object())), js::JSON_Dump(js::Value(back.to_object())));
    EXPECT_EQ(c.unsigned_value, back.pieces[0].size);
  }
}

TEST(Tavro_Backup_Set, ReaderAcceptsAndRefusesAsTheRestoreNeeds) {
  using Edit = std::function<void(js::Object&)>;
  struct Case {
    const char* what;
    Edit edit;
    bool ok;
    size_t networks;
    size_t pieces;
  };
  auto info = [](js::Object& o) -> js::Object& { return o["instance_info"].get_obj(); };
  auto first_volume = [](js::Object& o) -> js::Object& {
    return o["volumes"].get_array()[0].get_obj();
  };
  const Case cases[] = {
      {"unchanged", [](js::Object&) {}, true, 2, 2},
      {"one interface as an object",
       [](js::Object& o) { o["network"] = js::Value(o["network"].get_array()[0]); }, true, 1, 2},
      {"network a string", [](js::Object& o) { o["network"] = js::Value("x"); }, false, 0, 0},
      {"no network", [](js::Object& o) { o.erase("network"); }, false, 0, 0},
      {"no backup_name", [&](js::Object& o) { info(o).erase("backup_name"); }, true, 2, 2},
      {"no backup_id", [&](js::Object& o) { info(o).erase("backup_id"); }, false, 0, 0},
      {"no instance_version", [](js::Object& o) { o.erase("instance_version"); }, false, 0, 0},
      {"size a string", [](js::Object& o) { o["size"] = js::Value("1"); }, false, 0, 0},
      {"no storages", [](js::Object& o) { o.erase("storages"); }, false, 0, 0},
      {"a number among the pieces",
       [](js::Object& o) { o["pieces"].get_array().insert(o["pieces"].get_array().begin() + 1, js::Value(3)); },
       true, 2, 2},
      {"volume without device_name", [&](js::Object& o) { first_volume(o).erase("device_name"); },
       false, 0, 0},
      {"group without name",
       [](js::Object& o) {
         o["network"].get_array()[0].get_obj()["security_groups"].get_array()[0].get_obj().erase("name");
       },
       false, 0, 0},
      {"storage without pool",
       [](js::Object& o) { o["storages"].get_array()[0].get_obj().erase("pool_uuid"); }, false, 0,
       0},
      {"image without disk_bus", [](js::Object& o) { o["image_info"].get_obj().erase("disk_bus"); },
       false, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    js::Object obj = sample_object();
    c.edit(obj);
    Tavro_Backup_Set s;
    bool ok = true;
    try {
      s.load(obj);
    } catch (const std::exception&) {
      ok = false;
    }
    EXPECT_EQ(c.ok, ok);
    if (ok) {
      EXPECT_EQ(c.networks, s.networks.size());
      EXPECT_EQ(c.pieces, s.pieces.size());
    }
  }
}

TEST(Tavro_Backup_Set, UnreadableVolumeFailsTheRecordWithItsReason) {
  js::Object obj = sample_object();
  obj["volumes"].get_array()[1].get_obj()["size"] = js::Value("big");
  test::Log_Capture log;
  Tavro_Backup_Set s;
  try {
    s.load(obj);
    ADD_FAILURE() << "a record with an unreadable volume loaded";
  } catch (const std::domain_error& e) {
    EXPECT_STREQ("Failed to load elem content from JSON", e.what());
  }
  EXPECT_TRUE(log.contains("Failed to read volume of backup set", LM_ERROR));
}

TEST(Tavro_Backup_Set, TokensAddTheInstance) {
  const Tavro_Backup_Set s = test::sample_set("set-1", "res-1", "i-1", 1714564800);
  struct Case {
    const char* token;
    const char* value;
  };
  const Case cases[] = {{"instance_id", "i-1"},  {"instance_name", "web server"},
                        {"volumes", "2"},        {"networks", "2"},
                        {"node_name", "node-1"}, {"uuid", "set-1"},
                        {"module", "tavro"},     {"size", "128849018880"}};
  for (const Case& c : cases) {
    std::string out;
    EXPECT_TRUE(s.token_value(c.token, out)) << c.token;
    EXPECT_EQ(c.value, out) << c.token;
  }
  std::string out = "kept";
  EXPECT_FALSE(s.token_value("nothing", out));
  EXPECT_EQ("kept", out);
}

}  // namespace

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

std::string dump(const js::Object& o) { return js::JSON_Dump(js::Value(o)); }

// Every field (each with a value of its own, nested lists included) comes back from the
// JSON text, also the extreme numbers: cpu and memory are signed in the cloud's answers
// and sign-extended into the record, sizes may be anything a 64-bit counter holds. An
// empty record's text reads back too: it carries every key.
TEST(Tavro_Backup_Set, RoundTripsEveryFieldThroughItsJsonText) {
  Tavro_Backup_Set s;
  s.load(parse(test::SAMPLE_SET));
  EXPECT_EQ(dump(parse(test::SAMPLE_SET)), dump(s.to_object()));
  for (const uint64_t n : {uint64_t{INT64_MAX}, uint64_t{INT64_MAX} + 1, ~uint64_t{0}}) {
    SCOPED_TRACE(n);
    s.instance_info.cpu = s.instance_info.memory = s.image_info.size = n;
    s.volumes[0].size = s.pieces[0].size = s.storages[0].size = n;
    s.size = s.source_size = static_cast<int64_t>(n);
    Tavro_Backup_Set back;
    ASSERT_NO_THROW(back.load(parse(static_cast<const JSON_Generator&>(s).to_json())));
    EXPECT_EQ(dump(s.to_object()), dump(back.to_object()));
  }
  Tavro_Backup_Set back;
  ASSERT_NO_THROW(back.load(parse(Tavro_Backup_Set().to_json())));
  EXPECT_EQ(dump(Tavro_Backup_Set().to_object()), dump(back.to_object()));
}

// What the restore needs is required; what it can do without (or take in a simpler form)
// is not; a refused record logs its reason.
TEST(Tavro_Backup_Set, ReaderAcceptsAndRefusesAsTheRestoreNeeds) {
  using Edit = std::function<void(js::Object&)>;
  auto net = [](js::Object& o) -> js::Array& { return o["network"].get_array(); };
  auto first = [](js::Object& o, const char* key) -> js::Object& { return o[key].get_array()[0].get_obj(); };
  auto sub = [](js::Object& o, const char* key) -> js::Object& { return o[key].get_obj(); };
  // {what, edit, networks and pieces read ("" refused), what the log says}
  const std::tuple<const char*, Edit, const char*, const char*> cases[] = {
      {"unchanged", [](js::Object&) {}, "2 2", ""},
      {"one interface as an object", [&](js::Object& o) { o["network"] = js::Value(net(o)[0]); }, "1 2", ""},
      {"network a string", [](js::Object& o) { o["network"] = js::Value("x"); }, "", ""},
      {"no network", [](js::Object& o) { o.erase("network"); }, "", ""},
      {"no backup_name", [&](js::Object& o) { sub(o, "instance_info").erase("backup_name"); }, "2 2", ""},
      {"no backup_id", [&](js::Object& o) { sub(o, "instance_info").erase("backup_id"); }, "", ""},
      {"no instance_version", [](js::Object& o) { o.erase("instance_version"); }, "", ""},
      {"size a string", [](js::Object& o) { o["size"] = js::Value("1"); }, "", ""},
      {"no storages", [](js::Object& o) { o.erase("storages"); }, "", ""},
      {"a number among the pieces", [](js::Object& o) { o["pieces"].get_array().push_back(js::Value(3)); }, "2 2", ""},
      {"volume without device_name", [&](js::Object& o) { first(o, "volumes").erase("device_name"); }, "", ""},
      {"volume size a string", [&](js::Object& o) { first(o, "volumes")["size"] = js::Value("big"); }, "",
       "Failed to read volume of backup set"},
      {"group without name", [&](js::Object& o) { first(first(o, "network"), "security_groups").erase("name"); }, "", ""},
      {"storage without pool", [&](js::Object& o) { first(o, "storages").erase("pool_uuid"); }, "", ""},
      {"image without disk_bus", [&](js::Object& o) { sub(o, "image_info").erase("disk_bus"); }, "", ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::get<0>(c));
    js::Object obj = parse(test::SAMPLE_SET);
    std::get<1>(c)(obj);
    Tavro_Backup_Set s;
    std::string read;
    test::Log_Capture log;
    try {
      s.load(obj);
      read = std::to_string(s.networks.size()) + " " + std::to_string(s.pieces.size());
    } catch (const std::exception&) {
    }
    EXPECT_EQ(std::get<2>(c), read);
    EXPECT_TRUE(!*std::get<3>(c) || log.contains(std::get<3>(c), LM_ERROR)) << log.text();
  }
}

}  // namespace

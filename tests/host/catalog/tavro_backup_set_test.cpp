#include "backup_set/common/tavro_backup_set.h"

#include "json/json_dump.h"
#include "sample_sets.h"
#include "support/log_capture.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
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

// The networks and pieces of the record read from `obj`; "" when the reader refuses it.
std::string read(const js::Object& obj) {
  Tavro_Backup_Set s;
  try {
    s.load(obj);
  } catch (const std::exception&) {
    return "";
  }
  return std::to_string(s.networks.size()) + " " + std::to_string(s.pieces.size());
}

// What the restore needs is required; what it can do without (or take in a simpler form)
// is not; a refused record logs its reason.
TEST(Tavro_Backup_Set, ReaderAcceptsAndRefusesAsTheRestoreNeeds) {
  // {what, a text of the sample, what replaces it (a member is removed by renaming it),
  // the networks and pieces read ("" refused), what the log says}
  const std::tuple<const char*, const char*, const char*, const char*, const char*> cases[] = {
      {"unchanged", "", "", "2 2", ""},
      {"network a string", R"("network": [)", R"("network": "x", "x": [)", "", ""},
      {"no network", R"("network":)", R"("x":)", "", ""},
      {"no backup_name", R"("backup_name":)", R"("x":)", "2 2", ""},
      {"no backup_id", R"("backup_id":)", R"("x":)", "", ""},
      {"no instance_version", R"("instance_version":)", R"("x":)", "", ""},
      {"size a string", R"("size": 128849018880)", R"("size": "1")", "", ""},
      {"no storages", R"("storages":)", R"("x":)", "", ""},
      {"a number among the pieces", R"("pieces": [)", R"("pieces": [3, )", "2 2", ""},
      {"volume without device_name", R"("device_name": "/dev/vda")", R"("x": "")", "", ""},
      {"volume size a string", R"("size": 20,)", R"("size": "big",)", "",
       "Failed to read volume of backup set"},
      {"group without name", R"("name": "web"})", R"("x": "web"})", "", ""},
      {"storage without pool", R"("pool_uuid":)", R"("x":)", "", ""},
      {"image without disk_bus", R"("disk_bus":)", R"("x":)", "", ""}};
  for (const auto& [what, from, to, want, error] : cases) {
    SCOPED_TRACE(what);
    std::string text = test::SAMPLE_SET;
    const size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos);
    test::Log_Capture log;
    EXPECT_EQ(read(parse(text.replace(at, std::strlen(from), to))), want);
    EXPECT_TRUE(!*error || log.contains(error, LM_ERROR)) << log.text();
  }
  js::Object one = parse(test::SAMPLE_SET);
  one["network"] = js::Value(one["network"].get_array().at(0));
  EXPECT_EQ(read(one), "1 2");  // a single interface as an object
}

}  // namespace

#include "json/json_generator.h"

#include "json/json_load.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

namespace js = json_spirit;

namespace {

// A record as the host's record classes write themselves: an object, member by member.
class Piece : public JSON_Generator {
 public:
  std::string name;
  js::Value extra;

  yajl_gen_status generate(yajl_gen gen) const override {
    yajl_gen_status st = yajl_gen_map_open(gen);
    for (const auto& [key, value] : {std::pair<std::string, js::Value>{"name", js::Value(name)},
                                     {"extra", extra}}) {
      const auto* text = reinterpret_cast<const unsigned char*>(key.data());
      if (st == yajl_gen_status_ok) st = yajl_gen_string(gen, text, key.size());
      if (st == yajl_gen_status_ok) st = yajl_gen_value(gen, value);
    }
    return st == yajl_gen_status_ok ? yajl_gen_map_close(gen) : st;
  }
};

// The record writes itself through the base; a failure reaches the caller as "".
TEST(JSON_Generator, RecordWritesItselfThroughTheBase) {
  Piece p;
  p.name = "vol-1";
  p.extra = js::JSON_Load("{\"size\":18446744073709551615,\"ok\":[true,null]}");
  const JSON_Generator& base = p;
  EXPECT_EQ(R"({"name":"vol-1","extra":{"ok":[true,null],"size":18446744073709551615}})",
            base.to_json());
  EXPECT_NE(std::string::npos, base.to_json(true).find("\n"));
  p.extra = js::Value(js::Array{js::Value(NAN)});
  EXPECT_EQ("", p.to_json());
}

}  // namespace

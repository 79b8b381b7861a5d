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
    for (const auto& [key, value] : {std::pair<const char*, js::Value>{"name", js::Value(name)}, {"extra", extra}}) {
      if (st == yajl_gen_status_ok) st = yajl_gen_string(gen, reinterpret_cast<const unsigned char*>(key), std::strlen(key));
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
  EXPECT_EQ("{\"name\":\"vol-1\",\"extra\":{\"ok\":[true,null],\"size\":18446744073709551615}}", base.to_json());
  EXPECT_NE(std::string::npos, base.to_json(true).find("\n"));
  p.extra = js::Value(js::Array{js::Value(NAN)});
  EXPECT_EQ("", p.to_json());
  EXPECT_EQ("null", js::generate_text(false, [](yajl_gen g) { return yajl_gen_value(g, js::Value()); }));
}

}  // namespace

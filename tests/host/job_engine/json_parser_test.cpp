#include "job_engine/json_parser.h"
#include "job_engine/yajl_handler.h"
#include "json/json_dump.h"
#include "json/json_load.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

namespace {

json_spirit::Value parse(const std::string& text, bool* ok = nullptr) {
  json_spirit::Value out;
  JSON_Parser parser;
  parser.result(&out);
  const bool parsed = yajl_parse_document(parser, text.data(), text.size());
  if (ok != nullptr) *ok = parsed;
  return out;
}

TEST(JSON_Parser, BuildsDocumentsThroughTheDriver) {
  const std::vector<std::string> docs = {
      R"({"a":1,"b":[true,false,null],"c":{"d":"e"},"f":-2.5})",
      R"([1,[2,[3,{"x":[]}]],{}])",
      R"("just a string")",
      R"({"entries":[{"id":"i-1","volumes":[{"vol_id":"v-1"}]}],"id":"s-1"})",
  };
  for (const std::string& doc : docs) {
    bool ok = false;
    const json_spirit::Value built = parse(doc, &ok);
    EXPECT_TRUE(ok) << doc;
    EXPECT_EQ(built, JSON_Load(doc)) << doc;
  }
}

TEST(JSON_Parser, NumbersBecomeInt64Uint64OrDouble) {
  struct Case {
    const char* text;
    json_spirit::Value_type type;
    bool uint64;
  };
  const auto I = json_spirit::int_type, R = json_spirit::real_type;
  const Case cases[] = {{"-42", I, false}, {"9223372036854775807", I, false}, {"-9223372036854775808", I, false},
                        {"9223372036854775808", I, true}, {"18446744073709551615", I, true},
                        {"18446744073709551616", R, false}, {"-9223372036854775809", R, false}, {"1e3", R, false}};
  for (const Case& c : cases) {
    const json_spirit::Value v = parse(std::string("[") + c.text + "]");
    ASSERT_EQ(v.type(), json_spirit::array_type) << c.text;
    const json_spirit::Value& n = v.get_array().at(0);
    EXPECT_EQ(n.type(), c.type) << c.text;
    EXPECT_EQ(n.is_uint64(), c.uint64) << c.text;
  }
  EXPECT_EQ(parse("[18446744073709551615]").get_array()[0].get_uint64(), 18446744073709551615ull);
  EXPECT_EQ(parse("[-9223372036854775808]").get_array()[0].get_int64(), INT64_MIN);
}

// Records where each string event stands.
class Position_Recorder : public JSON_Parser {
 public:
  bool handle_string_i(const char* text, size_t length) override {
    seen.emplace_back(levels(), key(), std::string(text, length));
    return JSON_Parser::handle_string_i(text, length);
  }
  std::vector<std::tuple<size_t, std::string, std::string>> seen;
};

TEST(JSON_Parser, TracksALevelAndAKeyPerNesting) {
  const std::string doc =
      R"({"id":"a","x":{"id":"b","deep":{"k":"z"}},"l":["c",{"name":"d"}],"name":"e"})";
  Position_Recorder parser;
  ASSERT_TRUE(yajl_parse_document(parser, doc.data(), doc.size()));
  using P = std::tuple<size_t, std::string, std::string>;
  const std::vector<P> expected = {P{1, "id", "a"}, P{2, "id", "b"},   P{3, "k", "z"},
                                   P{2, "", "c"},   P{3, "name", "d"}, P{1, "name", "e"}};
  EXPECT_EQ(parser.seen, expected);
  EXPECT_EQ(parser.levels(), 0u);
  EXPECT_EQ(parser.key(), "");

  Position_Recorder in_array;
  const std::string arr = R"(["id",{"id":"a"},"b"])";
  ASSERT_TRUE(yajl_parse_document(in_array, arr.data(), arr.size()));
  const std::vector<P> arr_expected = {P{1, "", "id"}, P{2, "id", "a"}, P{1, "", "b"}};
  EXPECT_EQ(in_array.seen, arr_expected);
}

// Refuses (or throws at) the first string.
class Refusing_Handler : public YAJL_Handler {
 public:
  explicit Refusing_Handler(bool throws) : throws_(throws) {}
  bool handle_string_i(const char*, size_t) override {
    if (throws_) throw std::runtime_error("boom");
    return false;
  }

 private:
  bool throws_;
};

TEST(YAJL_Driver, ReportsBadDocumentsAndRefusals) {
  struct Case {
    const char* doc;
    bool throws;
    const char* error_part;
  };
  const Case cases[] = {{R"({"a":)", false, ""}, {R"({"a" 1})", false, ""}, {"", false, ""},
                        {R"([1] [2])", false, ""}, {R"(["s"])", false, ""}, {R"(["s"])", true, "handler failed: boom"}};
  for (const Case& c : cases) {
    Refusing_Handler handler(c.throws);
    std::string error;
    EXPECT_FALSE(yajl_parse_document(handler, c.doc, std::strlen(c.doc), &error)) << c.doc;
    EXPECT_FALSE(error.empty()) << c.doc;
    EXPECT_NE(error.find(c.error_part), std::string::npos) << c.doc << ": " << error;
  }
  Refusing_Handler accepting_numbers(false);
  EXPECT_TRUE(yajl_parse_document(accepting_numbers, "[1,2.5,null,true,{}]", 20));
}

// Takes numbers only from the number event.
class Number_Recorder : public YAJL_Handler {
 public:
  bool handle_number_i(const char* text, size_t length) override {
    numbers.emplace_back(text, length);
    return true;
  }
  std::vector<std::string> numbers;
};

TEST(YAJL_Handler, NumbersArriveAsTextWhateverTheirForm) {
  Number_Recorder h;
  const std::string doc = "[1, -7, 2.50, 1e400, 123456789012345678901234567890]";
  ASSERT_TRUE(yajl_parse_document(h, doc.data(), doc.size()));
  const std::vector<std::string> expected = {"1", "-7", "2.50", "1e400",
                                             "123456789012345678901234567890"};
  EXPECT_EQ(h.numbers, expected);

  // A caller holding a number already passes it on as text.
  Number_Recorder direct;
  EXPECT_TRUE(direct.handle_integer_i(-9223372036854775807LL - 1));
  EXPECT_TRUE(direct.handle_double_i(0.1));
  EXPECT_FALSE(direct.handle_double_i(std::numeric_limits<double>::infinity()));
  ASSERT_EQ(direct.numbers.size(), 2u);
  EXPECT_EQ(direct.numbers[0], "-9223372036854775808");
  EXPECT_EQ(JSON_Load(direct.numbers[1]).get_real(), 0.1);
}

}  // namespace

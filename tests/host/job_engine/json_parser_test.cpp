#include "job_engine/json_parser.h"
#include "job_engine/yajl_handler.h"
#include "json/json_dump.h"
#include "json/json_load.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

namespace {

// Documents built through the driver, dumped back: numbers become int64, uint64 or real.
// (Objects, and the level and key of each event, are driven by the job document parsers.)
TEST(JSON_Parser, BuildsDocumentsThroughTheDriver) {
  // The text dumped back, where it differs from the text read.
  const std::pair<const char*, const char*> cases[] = {
      {R"([1,[2,[3,{"x":[]}]],{}])", nullptr},
      {"[-42,9223372036854775807,-9223372036854775808]", nullptr},
      {"[9223372036854775808,18446744073709551615]", nullptr},
      {"[18446744073709551616,-9223372036854775809,1e3]",
       "[18446744073709551616.0,-9223372036854775808.0,1000.0]"}};
  for (const auto& [text, dumped] : cases) {
    json_spirit::Value out;
    JSON_Parser parser;
    parser.result(&out);
    EXPECT_TRUE(yajl_parse_document(parser, text, std::strlen(text))) << text;
    EXPECT_EQ(json_spirit::JSON_Dump(out), dumped ? dumped : text);
  }
}

// Refuses (or throws at) the first string; records the numbers, which arrive as text.
class Refusing_Handler : public YAJL_Handler {
 public:
  explicit Refusing_Handler(bool throws = false) : throws_(throws) {}
  bool handle_string_i(const char*, size_t) override {
    if (throws_) throw std::runtime_error("boom");
    return false;
  }
  bool handle_number_i(const char* text, size_t length) override {
    numbers.emplace_back(text, length);
    return true;
  }
  std::vector<std::string> numbers;

 private:
  bool throws_;
};

TEST(YAJL_Driver, ReportsBadDocumentsAndRefusals) {
  // document, throws, in the error
  const std::tuple<const char*, bool, const char*> cases[] = {
      {R"({"a":)", false, ""}, {R"({"a" 1})", false, ""}, {"", false, ""},
      {R"([1] [2])", false, ""}, {R"(["s"])", false, ""}, {R"(["s"])", true, "failed: boom"}};
  for (const auto& [doc, throws, part] : cases) {
    Refusing_Handler handler(throws);
    std::string error;
    EXPECT_FALSE(yajl_parse_document(handler, doc, std::strlen(doc), &error)) << doc;
    EXPECT_TRUE(!error.empty() && error.find(part) != std::string::npos) << doc << ": " << error;
  }
}

TEST(YAJL_Handler, NumbersArriveAsTextWhateverTheirForm) {
  Refusing_Handler h;
  const std::string doc = "[1, -7, 2.50, 1e400, 123456789012345678901234567890, null, true, {}]";
  ASSERT_TRUE(yajl_parse_document(h, doc.data(), doc.size()));
  // A caller holding a number already passes it on as text.
  EXPECT_TRUE(h.handle_integer_i(-9223372036854775807LL - 1) && h.handle_double_i(0.1));
  EXPECT_FALSE(h.handle_double_i(std::numeric_limits<double>::infinity()));
  EXPECT_EQ(h.numbers,
            (std::vector<std::string>{"1", "-7", "2.50", "1e400", "123456789012345678901234567890",
                                      "-9223372036854775808", "0.10000000000000001"}));
}

}  // namespace

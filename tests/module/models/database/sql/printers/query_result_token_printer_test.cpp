#include "models/database/sql/printers/query_result_token_printer.h"

#include <gtest/gtest.h>

#include <map>

namespace {

// A record with a few named fields, as the catalog's records print themselves.
class Row : public database::sql::Query_Result_Token_Printer {
 public:
  std::map<std::string, std::string> fields{{"uuid", "set-1"}, {"name", "two\nlines"}, {"size", "42"}, {"empty", ""}};
  bool token_value(const std::string& token, std::string& out) const override {
    auto it = fields.find(token);
    return it != fields.end() && (out = it->second, true);
  }
};

// The tokens in order under their separator; an unknown one prints as "?" and fails the
// row; one record stays one line.
TEST(Query_Result_Token_Printer, PrintsTheTokensInOrder) {
  const struct { std::vector<std::string> tokens; std::string sep; bool ok; std::string header, row; } cases[] = {
      {{}, "\t", true, "", ""}, {{"size", "uuid", "empty"}, "\t", true, "size\tuuid\tempty", "42\tset-1\t"},
      {{"uuid", "missing", "size"}, " | ", false, "uuid | missing | size", "set-1 | ? | 42"},
      {{"name"}, ",", true, "name", "two lines"}};
  Row r;
  for (const auto& c : cases) {
    r.set_tokens(c.tokens);
    r.set_separator(c.sep);
    std::string out = ">";
    EXPECT_EQ(c.ok, r.print(out));
    EXPECT_EQ(c.header + "/>" + c.row, r.header() + "/" + out);
  }
}

}  // namespace

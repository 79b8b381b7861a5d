#include "models/database/sql/printers/query_result_token_printer.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <tuple>
#include <vector>

namespace {

// A record with a few named fields, as the catalog's records print themselves.
class Row : public database::sql::Query_Result_Token_Printer {
 public:
  bool token_value(const std::string& token, std::string& out) const override {
    auto it = fields.find(token);
    if (it == fields.end()) return false;
    out = it->second;
    return true;
  }
  const std::map<std::string, std::string> fields{
      {"uuid", "set-1"}, {"name", "two\nlines"}, {"size", "42"}, {"empty", ""}};
};

// The tokens in order under their separator; an unknown one prints as "?" and fails the
// row; one record stays one line.
TEST(Query_Result_Token_Printer, PrintsTheTokensInOrder) {
  // {tokens, separator, the row prints whole, the header, "/>" and the row}
  const std::tuple<std::vector<std::string>, const char*, bool, const char*> cases[] = {
      {{}, "\t", true, "/>"},
      {{"size", "uuid", "empty"}, "\t", true, "size\tuuid\tempty/>42\tset-1\t"},
      {{"uuid", "missing", "size"}, " | ", false, "uuid | missing | size/>set-1 | ? | 42"},
      {{"name"}, ",", true, "name/>two lines"}};
  Row r;
  for (const auto& [tokens, separator, ok, printed] : cases) {
    r.set_tokens(tokens);
    r.set_separator(separator);
    std::string out = ">";
    EXPECT_EQ(ok, r.print(out));
    EXPECT_EQ(printed, r.header() + "/" + out);
  }
}

}  // namespace

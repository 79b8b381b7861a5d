// Printing catalog query results as text, one row per record: a record derived from
// Query_Result_Token_Printer prints the fields named by its tokens, in token order,
// joined by its separator. The backup-set records derive from it, and the runner lists
// the catalog through it.
#ifndef MODELS_DATABASE_SQL_PRINTERS_QUERY_RESULT_TOKEN_PRINTER_H
#define MODELS_DATABASE_SQL_PRINTERS_QUERY_RESULT_TOKEN_PRINTER_H

#include <string>
#include <utility>
#include <vector>

namespace database {
namespace sql {

// A record that can print itself as one row of a query result.
class Query_Result_Printer {
 public:
  Query_Result_Printer() = default;
  Query_Result_Printer(const Query_Result_Printer&) = default;
  Query_Result_Printer& operator=(const Query_Result_Printer&) = default;
  virtual ~Query_Result_Printer() = default;

  // Appends the record's row (without a line end) to `out`; false when some part of the
  // row could not be printed (the rest is printed all the same).
  virtual bool print(std::string& out) const = 0;
};

// Prints the fields named by its tokens. Its own state is the separator and the token
// list; a copy or an assignment of a derived record carries both along.
class Query_Result_Token_Printer : public Query_Result_Printer {
 public:
  Query_Result_Token_Printer() : separator_("\t") {}
  Query_Result_Token_Printer(const Query_Result_Token_Printer&) = default;
  Query_Result_Token_Printer& operator=(const Query_Result_Token_Printer&) = default;
  ~Query_Result_Token_Printer() override = default;

  // The fields to print, in order (field names as token_value() knows them).
  void set_tokens(std::vector<std::string> tokens) { tokens_ = std::move(tokens); }
  const std::vector<std::string>& tokens() const { return tokens_; }

  // What goes between two fields of a row (a tab unless set).
  void set_separator(std::string separator) { separator_ = std::move(separator); }
  const std::string& separator() const { return separator_; }

  // The header row: the tokens joined by the separator.
  std::string header() const {
    std::string out;
    for (size_t i = 0; i < tokens_.size(); ++i) {
      if (i != 0) out += separator_;
      out += tokens_[i];
    }
    return out;
  }

  // Each token's value joined by the separator; a token the record does not know prints
  // as "?" and makes the result false. Line breaks inside a value print as blanks, so
  // that one record stays one line.
  bool print(std::string& out) const override {
    bool ok = true;
    for (size_t i = 0; i < tokens_.size(); ++i) {
      if (i != 0) out += separator_;
      std::string value;
      if (!token_value(tokens_[i], value)) {
        ok = false;
        value = "?";
      }
      for (char& c : value) {
        if (c == '\n' || c == '\r') c = ' ';
      }
      out += value;
    }
    return ok;
  }

  // The text of the field named `token`; false (and `out` untouched) when the record
  // has no such field.
  virtual bool token_value(const std::string& token, std::string& out) const = 0;

 private:
  std::string separator_;
  std::vector<std::string> tokens_;
};

}  // namespace sql
}  // namespace database

#endif  // MODELS_DATABASE_SQL_PRINTERS_QUERY_RESULT_TOKEN_PRINTER_H

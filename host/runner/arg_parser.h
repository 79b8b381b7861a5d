// The runner's own small command-line parser. Every command of quillon3 declares its
// options in a Command_Syntax; parse_command checks the words against it and answers the
// values, and format_usage writes the command's --help text from the same table.
//
// Words: "--name VALUE" or "--name=VALUE" for an option with a value, "--name" for a
// flag, anything else (or everything after "--") an operand. "-h"/"--help" and
// "-v"/"--verbose" are understood by every command.
#ifndef RUNNER_ARG_PARSER_H
#define RUNNER_ARG_PARSER_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "yolt/secure_string.h"

namespace runner {

// The words after the program's name, copied once; a word that carried a secret can be
// wiped, here and in the process's own argument memory (what `ps` shows).
class Command_Line {
 public:
  Command_Line(int argc, char** argv);
  explicit Command_Line(std::vector<std::string> words);  // no process memory behind it

  size_t size() const { return words_.size(); }
  const std::string& at(size_t i) const { return words_.at(i); }

  // Moves word `i` into a wiping string and overwrites every copy of it with zeros.
  secure_string take_secret(size_t i);

 private:
  std::vector<std::string> words_;
  std::vector<char*> process_words_;  // argv[1..], or empty
};

struct Option {
  const char* name;        // without the leading "--"
  const char* value_name;  // null for a flag
  bool required;
  const char* help;
};

struct Command_Syntax {
  const char* path;      // "account add"
  const char* summary;   // what the command does, for --help
  const char* operands;  // synopsis of the operands ("METHOD PARAMS_JSON"), or ""
  std::vector<Option> options;
  size_t min_operands = 0;
  size_t max_operands = 0;
};

// The words of one command, checked against its syntax. Values are kept as indexes into
// the command line, so a secret value can still be taken out and wiped there.
class Parsed_Args {
 public:
  bool help() const { return help_; }
  bool verbose() const { return verbose_; }
  bool has(const std::string& name) const;
  // The value of option `name`, or `fallback` when it was not given.
  std::string value(const std::string& name, const std::string& fallback = "") const;
  // Index of the option's value in the command line; size_t(-1) when not given.
  size_t value_index(const std::string& name) const;
  std::vector<std::string> operands() const;

 private:
  friend bool parse_command(const Command_Syntax&, const Command_Line&, size_t, Parsed_Args&,
                            std::string&);
  const Command_Line* line_ = nullptr;
  bool help_ = false;
  bool verbose_ = false;
  std::set<std::string> flags_;
  std::map<std::string, size_t> values_;
  std::vector<size_t> operands_;
};

// Parses the words of `line` from index `first` on. Returns true with `out` filled; false
// with a one-line `error` for an unknown option, a missing or repeated one, a flag given a
// value, a missing value, or too few or too many operands. When help was asked for, it
// returns true without checking the rest (out.help() holds).
bool parse_command(const Command_Syntax& syntax, const Command_Line& line, size_t first,
                   Parsed_Args& out, std::string& error);

// The --help text of a command: synopsis, summary and one line per option.
std::string format_usage(const Command_Syntax& syntax);

// ---- value checks -------------------------------------------------------------------
// True and `port` set when `text` is a decimal number in 1..65535 (digits only).
bool parse_port(const std::string& text, uint16_t& port);
// True and `out` set when `text` is a decimal number (digits only) in lo..hi.
bool parse_number(const std::string& text, long lo, long hi, long& out);
// 1..128 characters of letters, digits, '.', '_', ':' and '-', but not "." or "..",
// which name a folder itself or its parent: the uuids and ids the runner stores and that
// later name files and folders and appear in messages.
bool is_identifier(const std::string& text);
// What is_identifier asks, in words that follow a name in a message.
extern const char IDENTIFIER_RULE[];
// A host name or address: 1..253 characters of letters, digits, '.', '-', '_', ':', '['
// and ']' (IPv6 in brackets or not).
bool is_host_name(const std::string& text);
// Not empty, at most `max` bytes, no control characters.
bool is_plain_text(const std::string& text, size_t max = 255);

}  // namespace runner

#endif  // RUNNER_ARG_PARSER_H

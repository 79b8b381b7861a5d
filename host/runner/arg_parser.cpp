#include "runner/arg_parser.h"

#include <cctype>
#include <cstring>
#include <utility>

#include "runtime/secure_memset.h"

namespace runner {

namespace {

const size_t NONE = static_cast<size_t>(-1);

const Option* find_option(const Command_Syntax& syntax, const std::string& name) {
  for (const Option& o : syntax.options)
    if (name == o.name) return &o;
  return nullptr;
}

bool is_help(const std::string& w) { return w == "-h" || w == "--help"; }
bool is_verbose(const std::string& w) { return w == "-v" || w == "--verbose"; }

bool all_digits(const std::string& text) {
  if (text.empty() || text.size() > 18) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

// Reads one "--name[=value]" word (and its value word when needed) at `i`; advances `i`
// past what it used.
bool read_option(const Command_Syntax& syntax, const Command_Line& line, size_t& i,
                 std::map<std::string, size_t>& values, std::set<std::string>& flags,
                 std::string& error) {
  const std::string& word = line.at(i);
  const size_t eq = word.find('=');
  const std::string name = word.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
  const Option* option = find_option(syntax, name);
  if (option == nullptr) {
    error = "unknown option --" + name;
    return false;
  }
  if (values.count(name) != 0 || flags.count(name) != 0) {
    error = "option --" + name + " given twice";
    return false;
  }
  if (option->value_name == nullptr) {
    if (eq != std::string::npos) {
      error = "option --" + name + " takes no value";
      return false;
    }
    flags.insert(name);
    ++i;
    return true;
  }
  if (eq != std::string::npos) {
    // The value is inside the word: the index stays that of the word; value() strips it.
    values[name] = i;
    ++i;
    return true;
  }
  if (i + 1 >= line.size() || line.at(i + 1).compare(0, 2, "--") == 0) {
    error = "option --" + name + " needs a value (" + option->value_name + ")";
    return false;
  }
  values[name] = i + 1;
  i += 2;
  return true;
}

}  // namespace

Command_Line::Command_Line(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    words_.emplace_back(argv[i]);
    process_words_.push_back(argv[i]);
  }
}

Command_Line::Command_Line(std::vector<std::string> words) : words_(std::move(words)) {}

secure_string Command_Line::take_secret(size_t i) {
  std::string& word = words_.at(i);
  // A value given as "--name=VALUE" keeps its option name in front.
  const size_t eq = word.compare(0, 2, "--") == 0 ? word.find('=') : std::string::npos;
  const size_t from = eq == std::string::npos ? 0 : eq + 1;
  secure_string secret(word.data() + from, word.size() - from);
  secure_memset(&word[0], 0, word.size());
  if (i < process_words_.size()) {
    char* p = process_words_[i];
    secure_memset(p, 0, std::strlen(p));
  }
  word.clear();
  return secret;
}

bool Parsed_Args::has(const std::string& name) const {
  return flags_.count(name) != 0 || values_.count(name) != 0;
}

size_t Parsed_Args::value_index(const std::string& name) const {
  auto it = values_.find(name);
  return it == values_.end() ? NONE : it->second;
}

std::string Parsed_Args::value(const std::string& name, const std::string& fallback) const {
  const size_t i = value_index(name);
  if (i == NONE || line_ == nullptr) return fallback;
  const std::string& word = line_->at(i);
  if (word.compare(0, 2, "--") == 0) {
    const size_t eq = word.find('=');
    if (eq != std::string::npos) return word.substr(eq + 1);
  }
  return word;
}

std::vector<std::string> Parsed_Args::operands() const {
  std::vector<std::string> out;
  for (size_t i : operands_) out.push_back(line_->at(i));
  return out;
}

bool parse_command(const Command_Syntax& syntax, const Command_Line& line, size_t first,
                   Parsed_Args& out, std::string& error) {
  out = Parsed_Args();
  out.line_ = &line;
  for (size_t i = first; i < line.size() && line.at(i) != "--"; ++i) {
    if (is_help(line.at(i))) {
      out.help_ = true;
      return true;
    }
  }
  bool operands_only = false;
  for (size_t i = first; i < line.size();) {
    const std::string& word = line.at(i);
    if (operands_only || word == "-" || word.empty() || word[0] != '-') {
      out.operands_.push_back(i++);
    } else if (word == "--") {
      operands_only = true;
      ++i;
    } else if (is_verbose(word)) {
      out.verbose_ = true;
      ++i;
    } else if (word.compare(0, 2, "--") == 0 && word.size() > 2) {
      if (!read_option(syntax, line, i, out.values_, out.flags_, error)) return false;
    } else {
      error = "unknown option " + word;
      return false;
    }
  }
  for (const Option& o : syntax.options) {
    if (o.required && !out.has(o.name)) {
      error = std::string("missing --") + o.name;
      return false;
    }
  }
  if (out.operands_.size() < syntax.min_operands) {
    error = std::string("missing ") + syntax.operands;
    return false;
  }
  if (out.operands_.size() > syntax.max_operands) {
    error = "unexpected argument '" + line.at(out.operands_[syntax.max_operands]) + "'";
    return false;
  }
  return true;
}

std::string format_usage(const Command_Syntax& syntax) {
  std::string text = std::string("Usage: quillon3 ") + syntax.path;
  for (const Option& o : syntax.options) {
    std::string word = std::string("--") + o.name;
    if (o.value_name != nullptr) word += std::string(" ") + o.value_name;
    text += o.required ? " " + word : " [" + word + "]";
  }
  if (*syntax.operands != '\0') text += std::string(" ") + syntax.operands;
  text += std::string("\n\n") + syntax.summary + "\n\nOptions:\n";
  for (const Option& o : syntax.options) {
    std::string word = std::string("  --") + o.name;
    if (o.value_name != nullptr) word += std::string(" ") + o.value_name;
    word.resize(word.size() < 26 ? 26 : word.size() + 1, ' ');
    text += word + o.help + "\n";
  }
  text += "  -v, --verbose           log to stderr\n";
  text += "  -h, --help              show this help\n";
  return text;
}

bool parse_port(const std::string& text, uint16_t& port) {
  long n = 0;
  if (!parse_number(text, 1, 65535, n)) return false;
  port = static_cast<uint16_t>(n);
  return true;
}

bool parse_number(const std::string& text, long lo, long hi, long& out) {
  if (!all_digits(text)) return false;
  const long n = std::stol(text);
  if (n < lo || n > hi) return false;
  out = n;
  return true;
}

const char IDENTIFIER_RULE[] =
    "may hold only letters, digits, '.', '_', ':' and '-' (1..128) and must not be '.' or '..'";

bool is_identifier(const std::string& text) {
  if (text.empty() || text.size() > 128 || text == "." || text == "..") return false;
  for (unsigned char c : text)
    if (c == 0 || (!std::isalnum(c) && std::strchr("._:-", c) == nullptr)) return false;
  return true;
}

bool is_host_name(const std::string& text) {
  if (text.empty() || text.size() > 253) return false;
  for (unsigned char c : text)
    if (c == 0 || (!std::isalnum(c) && std::strchr(".-_:[]", c) == nullptr)) return false;
  return true;
}

bool is_plain_text(const std::string& text, size_t max) {
  if (text.empty() || text.size() > max) return false;
  for (unsigned char c : text)
    if (c < 0x20 || c == 0x7f) return false;
  return true;
}

}  // namespace runner

#include "runner/runner_context.h"

#include <ace/Log_Msg.h>
#include <ace/Log_Record.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <iostream>

#include "identity/host_manager.h"
#include "json/json_dump.h"
#include "runner/module_link.h"
#include "runtime/host_home.h"

namespace runner {

namespace {

bool is_error_priority(unsigned long type) {
  return type == LM_ERROR || type == LM_CRITICAL || type == LM_ALERT || type == LM_EMERGENCY;
}

// The text without trailing white space and a final full stop, so it can follow ": ".
std::string trimmed(std::string text) {
  while (!text.empty() &&
         (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.'))
    text.pop_back();
  return text;
}

// Strips the newlines that only lay a record out on its own lines.
std::string without_outer_newlines(const std::string& text) {
  const size_t first = text.find_first_not_of('\n');
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of('\n') - first + 1);
}

// The length (2..4) of the well-formed UTF-8 sequence at text[i], a byte of 0x80 or
// more; 0 when there is none. The second byte's range leaves out overlong forms,
// surrogates and code points past U+10FFFF.
size_t utf8_length(const std::string& text, size_t i) {
  const unsigned char lead = static_cast<unsigned char>(text[i]);
  const size_t n = lead >= 0xc2 && lead <= 0xdf ? 2 : lead >= 0xe0 && lead <= 0xef ? 3
                   : lead >= 0xf0 && lead <= 0xf4 ? 4 : 0;
  if (n == 0 || text.size() - i < n) return 0;
  const unsigned char second = static_cast<unsigned char>(text[i + 1]);
  const unsigned char low = lead == 0xe0 ? 0xa0 : lead == 0xf0 ? 0x90 : 0x80;
  const unsigned char high = lead == 0xed ? 0x9f : lead == 0xf4 ? 0x8f : 0xbf;
  if (second < low || second > high) return 0;
  for (size_t k = 2; k < n; ++k)
    if ((static_cast<unsigned char>(text[i + k]) & 0xc0) != 0x80) return 0;
  return n;
}

void append_hex(std::string& out, const char* prefix, unsigned char byte) {
  static const char DIGITS[] = "0123456789abcdef";
  out += prefix;
  out += DIGITS[byte >> 4];
  out += DIGITS[byte & 0xf];
}

bool names_secret(std::string name) {
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const bool ends_in_key = name.size() >= 3 && name.compare(name.size() - 3, 3, "key") == 0;
  return ends_in_key || name.find("secret") != std::string::npos ||
         name.find("password") != std::string::npos || name.find("token") != std::string::npos;
}

const char HIDDEN[] = "<hidden>";

}  // namespace

std::recursive_timed_mutex& stderr_mutex() {
  static std::recursive_timed_mutex mutex;
  return mutex;
}

Runner_Log::Runner_Log() {
  ACE_Log_Msg::msg_backend(this);
  ACE_LOG_MSG->set_flags(ACE_Log_Msg::CUSTOM);
  ACE_LOG_MSG->clr_flags(ACE_Log_Msg::STDERR);
}

Runner_Log::~Runner_Log() {
  ACE_LOG_MSG->clr_flags(ACE_Log_Msg::CUSTOM);
  ACE_LOG_MSG->set_flags(ACE_Log_Msg::STDERR);
  ACE_Log_Msg::msg_backend(nullptr);
}

void Runner_Log::set_verbose(bool verbose) {
  std::lock_guard<std::mutex> lock(mutex_);
  verbose_ = verbose;
}

bool Runner_Log::verbose() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return verbose_;
}

void Runner_Log::keep_errors() {
  std::lock_guard<std::mutex> lock(mutex_);
  keeping_ = true;
  kept_.clear();
  not_kept_ = 0;
}

std::vector<std::string> Runner_Log::take_errors(size_t& more) {
  std::lock_guard<std::mutex> lock(mutex_);
  keeping_ = false;
  more = not_kept_;
  not_kept_ = 0;
  return std::move(kept_);
}

std::string Runner_Log::last_error() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return last_error_;
}

void Runner_Log::forget_errors() {
  std::lock_guard<std::mutex> lock(mutex_);
  last_error_.clear();
}

ssize_t Runner_Log::log(ACE_Log_Record& record) {
  std::string line;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::string text = printable(trimmed(record.msg_data()));
    if (is_error_priority(record.type()) && !text.empty()) {
      last_error_ = text;
      if (keeping_ && std::find(kept_.begin(), kept_.end(), text) == kept_.end()) {
        if (kept_.size() < MAX_KEPT_ERRORS)
          kept_.push_back(text);
        else
          ++not_kept_;
      }
    }
    if (!verbose_) return 0;
    std::string level = ACE_Log_Record::priority_name(static_cast<ACE_Log_Priority>(record.type()));
    if (level.compare(0, 3, "LM_") == 0) level.erase(0, 3);
    line = "quillon3 [" + level + "] " + printable(without_outer_newlines(record.msg_data())) + "\n";
  }
  // Written after the log's own lock is let go: a writer holding stderr may log.
  const Stderr_Lock lock(stderr_mutex());
  std::cerr << line;
  return 0;
}

Context::Context(Runner_Log& log, std::ostream& out, std::ostream& err)
    : log_(log), out_(out), err_(err) {}

std::string Context::module_path() const {
  return module_path_.empty() ? default_module_path() : module_path_;
}

bool Context::parse(const Command_Syntax& syntax, const Command_Line& line, size_t first,
                    Parsed_Args& args, int& exit_code) {
  std::string error;
  if (!parse_command(syntax, line, first, args, error)) {
    exit_code = usage_error(syntax.path, error);
    return false;
  }
  if (args.help()) {
    out_ << format_usage(syntax);
    exit_code = EXIT_OK;
    return false;
  }
  if (args.verbose()) set_verbose(true);
  return true;
}

int Context::usage_error(const std::string& command, const std::string& what) {
  const Stderr_Lock lock(stderr_mutex());
  err_ << "quillon3: " << printable(what) << "\n";
  err_ << "Try 'quillon3 " << command << (command.empty() ? "" : " ") << "--help'.\n";
  return EXIT_USAGE;
}

int Context::fail(const std::string& what) {
  const std::string reason = log_.last_error();  // printable already
  const std::string shown = printable(what);
  const Stderr_Lock lock(stderr_mutex());
  err_ << "quillon3: " << shown;
  if (!reason.empty() && shown.find(reason) == std::string::npos) err_ << ": " << reason;
  err_ << "\n";
  return EXIT_FAILED;
}

void Context::warn(const std::string& what) {
  const Stderr_Lock lock(stderr_mutex());
  err_ << "quillon3: warning: " << printable(what) << "\n";
}

bool home_exists() {
  struct stat st;
  return ::stat(host_home().c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool identity_ready(bool need_private_key, std::string& error) {
  const Host_Manager& host = Host_Manager::instance();
  if (!host.rsa_pubkey().empty() && (!need_private_key || !host.rsa_prvkey().empty())) return true;
  error = "the host home " + host_home() + " has no " +
          (host.rsa_pubkey().empty() ? "public" : "private") + " key; run 'quillon3 init' first";
  return false;
}

json_spirit::Value hide_secrets(const json_spirit::Value& value) {
  switch (value.type()) {
    case json_spirit::secure_str_type:
      return json_spirit::Value(HIDDEN);
    case json_spirit::array_type: {
      json_spirit::Array out;
      for (const json_spirit::Value& v : value.get_array()) out.push_back(hide_secrets(v));
      return json_spirit::Value(std::move(out));
    }
    case json_spirit::obj_type: {
      json_spirit::Object out;
      for (const auto& member : value.get_obj())
        out[member.first] = names_secret(member.first) && !member.second.is_null()
                                ? json_spirit::Value(HIDDEN)
                                : hide_secrets(member.second);
      return json_spirit::Value(std::move(out));
    }
    default:
      return value;
  }
}

std::string printable(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const size_t n = c < 0x80 ? 1 : utf8_length(text, i);
    if (c == '\n' || c == '\r' || c == '\t') {
      out += c == '\n' ? "\\n" : c == '\r' ? "\\r" : "\\t";
    } else if (n == 0 || (n == 1 && (c < 0x20 || c == 0x7f))) {
      append_hex(out, "\\x", c);
    } else if (n == 2 && c == 0xc2 && static_cast<unsigned char>(text[i + 1]) < 0xa0) {
      append_hex(out, "\\u00", static_cast<unsigned char>(text[i + 1]));
    } else {
      out.append(text, i, n);
    }
    i += n == 0 ? 1 : n;
  }
  return out;
}

std::string printable_json(const json_spirit::Value& value) {
  const std::string text = JSON_Dump(value, true);  // C0 controls escaped, UTF-8 checked
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const unsigned char next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
    if (c == 0x7f) {
      append_hex(out, "\\u00", c);
    } else if (c == 0xc2 && next >= 0x80 && next < 0xa0) {
      append_hex(out, "\\u00", next);
      ++i;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

void print_table(std::ostream& out, const std::vector<std::string>& header,
                 const std::vector<std::vector<std::string>>& table) {
  std::vector<std::vector<std::string>> rows;
  rows.reserve(table.size());
  for (const auto& row : table) {
    rows.emplace_back();
    for (const std::string& cell : row) rows.back().push_back(printable(cell));
  }
  std::vector<size_t> widths(header.size(), 0);
  auto measure = [&widths](const std::vector<std::string>& row) {
    for (size_t i = 0; i < row.size() && i < widths.size(); ++i)
      widths[i] = std::max(widths[i], row[i].size());
  };
  measure(header);
  for (const auto& row : rows) measure(row);
  auto print = [&out, &widths](const std::vector<std::string>& row) {
    std::string line;
    for (size_t i = 0; i < row.size() && i < widths.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size()) line += std::string(widths[i] - row[i].size() + 2, ' ');
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out << line << "\n";
  };
  print(header);
  for (const auto& row : rows) print(row);
}

}  // namespace runner

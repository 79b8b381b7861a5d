#include "runner/runner_output.h"

#include <ace/Log_Msg.h>
#include <ace/Log_Record.h>

#include <algorithm>
#include <cctype>
#include <iostream>

#include "json/json_dump.h"

namespace runner {

namespace {

bool is_error_priority(unsigned long type) {
  return type == LM_ERROR || type == LM_CRITICAL || type == LM_ALERT;
}

// The module's internal checks log at emergency priority, with source paths and call
// stacks: words for its developers, not for the user.
bool is_internal_check(unsigned long type) { return type == LM_EMERGENCY; }

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

// The C1 controls, which drive a terminal, and the bidirectional format controls, which
// reorder what it shows so that a text reads as another: a mark, an embedding, an
// override, an isolate.
bool is_hidden_control(char32_t cp) {
  return (cp >= 0x80 && cp <= 0x9f) || cp == 0x061c || cp == 0x200e || cp == 0x200f ||
         (cp >= 0x202a && cp <= 0x202e) || (cp >= 0x2066 && cp <= 0x2069);
}

const char DIGITS[] = "0123456789abcdef";

void append_byte(std::string& out, unsigned char byte) {
  out += "\\x";
  out += DIGITS[byte >> 4];
  out += DIGITS[byte & 0xf];
}

// "\uNNNN" of a code point below U+10000.
void append_code_point(std::string& out, char32_t cp) {
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out += DIGITS[(cp >> shift) & 0xf];
}

// How a record's further lines are set off under -v.
const char CONTINUATION_INDENT[] = "    ";

// The record as -v shows it: the first line after "quillon3 [LEVEL] ", each further one
// that is not blank on a line of its own, its own leading blanks replaced by the indent.
std::string verbose_lines(const std::string& level, const std::string& text) {
  const std::string lines = without_outer_newlines(text);
  std::string out = "quillon3 [" + level + "] ";
  for (size_t start = 0, line = 0; start <= lines.size(); ++line) {
    size_t end = lines.find('\n', start);
    if (end == std::string::npos) end = lines.size();
    if (line == 0) {
      out += printable(lines.substr(start, end - start));
    } else {
      const size_t body = lines.find_first_not_of(" \t", start);
      if (body < end) out += "\n" + (CONTINUATION_INDENT + printable(lines.substr(body, end - body)));
    }
    start = end + 1;
  }
  return out + "\n";
}

bool names_secret(std::string name) {
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const bool ends_in_key = name.size() >= 3 && name.compare(name.size() - 3, 3, "key") == 0;
  return ends_in_key || name.find("secret") != std::string::npos ||
         name.find("password") != std::string::npos || name.find("token") != std::string::npos;
}

const char HIDDEN[] = "<hidden>";

}  // namespace

// The second byte's range leaves out overlong forms, surrogates and code points past
// U+10FFFF.
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

char32_t code_point(const std::string& text, size_t i, size_t n) {
  static const unsigned char LEAD_BITS[] = {0, 0, 0x1f, 0x0f, 0x07};
  char32_t cp = static_cast<unsigned char>(text[i]) & LEAD_BITS[n];
  for (size_t k = 1; k < n; ++k) cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3f);
  return cp;
}

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
  internal_ = 0;
  warnings_.clear();
  dropped_warnings_ = 0;
}

std::vector<std::string> Runner_Log::take_errors(size_t& more, size_t& internal) {
  std::lock_guard<std::mutex> lock(mutex_);
  keeping_ = false;
  more = not_kept_;
  not_kept_ = 0;
  internal = internal_;
  internal_ = 0;
  return std::move(kept_);
}

std::vector<std::string> Runner_Log::take_warnings(size_t& dropped) {
  std::lock_guard<std::mutex> lock(mutex_);
  dropped = dropped_warnings_;
  dropped_warnings_ = 0;
  std::vector<std::string> taken;
  taken.swap(warnings_);
  return taken;
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
  std::string lines;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::string text = printable(trimmed(record.msg_data()));
    if (is_internal_check(record.type()) && keeping_) ++internal_;
    if (record.type() == LM_WARNING && keeping_ && !verbose_ && !text.empty()) {
      if (warnings_.size() < MAX_WAITING_WARNINGS)
        warnings_.push_back(text);
      else
        ++dropped_warnings_;
    }
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
    lines = verbose_lines(level, record.msg_data());
  }
  // Written after the log's own lock is let go: a writer holding stderr may log.
  const Stderr_Lock lock(stderr_mutex());
  std::cerr << lines;
  return 0;
}

bool Shown_Lines::first_time(const std::string& line) {
  if (shown_.count(line) != 0) return false;
  if (shown_.size() < MAX_REMEMBERED) shown_.insert(line);
  return true;
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
      append_byte(out, c);
    } else if (n > 1 && is_hidden_control(code_point(text, i, n))) {
      append_code_point(out, code_point(text, i, n));
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
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const size_t n = c < 0x80 ? 1 : utf8_length(text, i);
    if (n == 0) return std::string();  // an overlong form or a surrogate the writer let by
    if (c == 0x7f) {
      append_code_point(out, c);
    } else if (n > 1 && is_hidden_control(code_point(text, i, n))) {
      append_code_point(out, code_point(text, i, n));
    } else {
      out.append(text, i, n);
    }
    i += n;
  }
  return out;
}

void print_table(std::ostream& out, const std::vector<std::string>& header,
                 const std::vector<std::vector<std::string>>& table) {
  std::vector<std::vector<std::string>> rows;
  rows.reserve(table.size());
  for (const auto& row : table) {
    rows.emplace_back();
    for (const std::string& cell : row) rows.back().push_back(cell.empty() ? "-" : printable(cell));
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

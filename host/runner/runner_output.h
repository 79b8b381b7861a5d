// What the runner prints, and how: text from the cloud, files and users made printable on
// a line of its own, JSON with no control left raw, plain-text tables, and the ACE log
// backend that shows the host's and the module's log with -v. Every command prints
// through these; the runner's unit tests try them directly.
#ifndef RUNNER_RUNNER_OUTPUT_H
#define RUNNER_RUNNER_OUTPUT_H

#include <ace/Log_Msg_Backend.h>

#include <cstddef>
#include <mutex>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "json/value.h"

namespace runner {

// One writer at a time on stderr: a job's stop thread, its progress view, the log and the
// command's own lines each hold this lock while they write a line or a group of lines
// (or change the stream's state), so that none cuts into another. Recursive, so that a
// group may hold it around the helpers that take it too.
std::recursive_timed_mutex& stderr_mutex();
using Stderr_Lock = std::lock_guard<std::recursive_timed_mutex>;

// The process-wide ACE log backend while it lives: records go to stderr when verbose,
// and the text of the last record of error priority or worse is kept either way; while
// asked to, the distinct texts of such records are kept too (a bounded number), and, when
// not verbose, the texts of warning records wait for the caller to show them as they
// come. Emergency records are the module's internal checks (a source path, a call
// stack): they are printed only when verbose and otherwise only counted. A record may
// quote the cloud: what is kept of it is printable(), one line a record; what -v prints
// of it is its first line after "quillon3 [LEVEL] ", then each further line of a record
// laid out on several lines indented, each printable(), so that no text inside a record
// starts a line at the margin.
class Runner_Log : public ACE_Log_Msg_Backend {
 public:
  Runner_Log();
  ~Runner_Log() override;
  Runner_Log(const Runner_Log&) = delete;
  Runner_Log& operator=(const Runner_Log&) = delete;

  void set_verbose(bool verbose);
  bool verbose() const;
  // The last error logged since the last forget_errors(), trimmed; empty when none.
  std::string last_error() const;
  void forget_errors();
  // From now on keeps the distinct errors logged, trimmed, in order: the first
  // MAX_KEPT_ERRORS; later ones are only counted. Keeps the warnings (see take_warnings)
  // and counts the internal checks too.
  void keep_errors();
  // The errors kept since keep_errors(), and in `more` how many were only counted, in
  // `internal` how many internal check records were left out; stops keeping them.
  std::vector<std::string> take_errors(size_t& more, size_t& internal);
  // The warnings logged since the last call, trimmed, in order (none when verbose, which
  // printed them): at most MAX_WAITING_WARNINGS wait, later ones are counted in `dropped`.
  // Taken by the caller's own thread, so a logging thread never waits on stderr.
  std::vector<std::string> take_warnings(size_t& dropped);

  static constexpr size_t MAX_KEPT_ERRORS = 20;
  static constexpr size_t MAX_WAITING_WARNINGS = 100;

  int open(const ACE_TCHAR*) override { return 0; }
  int reset() override { return 0; }
  int close() override { return 0; }
  ssize_t log(ACE_Log_Record& record) override;

 private:
  mutable std::mutex mutex_;
  bool verbose_ = false;
  std::string last_error_;
  bool keeping_ = false;
  std::vector<std::string> kept_;
  size_t not_kept_ = 0;
  size_t internal_ = 0;
  std::vector<std::string> warnings_;
  size_t dropped_warnings_ = 0;
};

// The lines a command showed of what a job tells, so that a line identical to one shown
// before is left out: a cause that several tries or instances meet is said once. The
// first MAX_REMEMBERED distinct lines are remembered; lines past them are always shown.
class Shown_Lines {
 public:
  // True when `line` was not shown before; it counts as shown from now on.
  bool first_time(const std::string& line);

  static constexpr size_t MAX_REMEMBERED = 1000;

 private:
  std::set<std::string> shown_;
};

// The length (2..4) of the well-formed UTF-8 sequence at text[i], a byte of 0x80 or
// more; 0 when there is none (overlong forms, surrogates and truncated sequences
// included).
size_t utf8_length(const std::string& text, size_t i);
// The code point of the well-formed sequence of `n` (2..4) bytes at text[i].
char32_t code_point(const std::string& text, size_t i, size_t n);

// `text` as the runner may print it inside a line of its own: text from the cloud or a
// file may hold a newline that would forge a line, or a control that drives a terminal or
// reorders what it shows. Newline, carriage return and tab become "\n", "\r" and "\t";
// the other C0 controls, DEL and any byte that starts no valid UTF-8 sequence (overlong
// and truncated ones included) "\xNN"; the C1 controls (U+0080..U+009F) and the
// bidirectional format controls (U+061C, U+200E, U+200F, U+202A..U+202E,
// U+2066..U+2069) "\uNNNN". Everything else, valid UTF-8 included, stays as it is, so
// that a text already printable comes back unchanged.
std::string printable(const std::string& text);

// The JSON text of `value`, indented as JSON_Dump writes it, with DEL, the C1 controls
// and the bidirectional format controls, which JSON lets a string hold raw, written as
// \u escapes: the same value, and none of them reaches a terminal. "" when the value
// cannot be written as JSON: a real that is not finite, a string that is not valid UTF-8
// (overlong forms and surrogates included).
std::string printable_json(const json_spirit::Value& value);

// A copy of `value` in which every secret string and every object member whose name
// speaks of a key, secret, password or token holds "<hidden>" instead: what the runner
// prints of JSON it did not make itself.
json_spirit::Value hide_secrets(const json_spirit::Value& value);

// Writes `rows` under `header` in columns separated by two spaces, each cell printable()
// and an empty cell as "-", so that no column of a row is left blank and the cells after
// it keep their places for a reader that splits the row at white space.
void print_table(std::ostream& out, const std::vector<std::string>& header,
                 const std::vector<std::vector<std::string>>& rows);

}  // namespace runner

#endif  // RUNNER_RUNNER_OUTPUT_H

// What the runner prints of text it did not write: escaped on one line, as JSON, in a
// table cell, and in the -v log, where a record laid out on several lines keeps them.
#include <gtest/gtest.h>

#include <ace/Log_Msg.h>

#include <iostream>
#include <sstream>
#include <string>

#include "json/value.h"
#include "runner/runner_output.h"

namespace {

TEST(Runner_Output, ControlsAndBrokenUtf8AreEscapedValidTextIsKept) {
  const struct {
    const char* what;
    std::string text;
    std::string shown;  // printable()
    std::string json;   // printable_json() of the text as a JSON string; "" when not JSON
  } rows[] = {
      {"plain", "web01", "web01", R"("web01")"},
      {"newline forges no line", "a\nquillon3: done", R"(a\nquillon3: done)",
       R"("a\nquillon3: done")"},
      {"carriage return", "a\rb", R"(a\rb)", R"("a\rb")"},
      {"tab", "a\tb", R"(a\tb)", R"("a\tb")"},
      {"NUL and ESC", std::string("\0\x1b[2J", 5), R"(\x00\x1b[2J)", R"("\u0000\u001B[2J")"},
      {"DEL", "a\x7f", R"(a\x7f)", R"("a\u007f")"},
      {"first C1", "\xc2\x80", R"(\u0080)", R"("\u0080")"},
      {"CSI", "\xc2\x9b" "31m", R"(\u009b31m)", R"("\u009b31m")"},
      {"last C1", "\xc2\x9f", R"(\u009f)", R"("\u009f")"},
      {"after C1", "\xc2\xa0", "\xc2\xa0", "\"\xc2\xa0\""},
      {"overlong ESC", "\xc0\x9b", R"(\xc0\x9b)", ""},
      {"overlong DEL", "\xc1\xbf", R"(\xc1\xbf)", ""},
      {"truncated", "caf\xc3", R"(caf\xc3)", ""},
      {"truncated three bytes", "\xe2\x80", R"(\xe2\x80)", ""},
      {"lone continuation", "\x9b", R"(\x9b)", ""},
      {"surrogate", "\xed\xa0\x80", R"(\xed\xa0\x80)", ""},
      {"valid UTF-8", "caf\xc3\xa9 \xe2\x98\x83 \xf0\x9d\x84\x9e",
       "caf\xc3\xa9 \xe2\x98\x83 \xf0\x9d\x84\x9e", "\"caf\xc3\xa9 \xe2\x98\x83 \xf0\x9d\x84\x9e\""},
      {"marks", "\xe2\x80\x8e\xe2\x80\x8f", R"(\u200e\u200f)", R"("\u200e\u200f")"},
      {"Arabic letter mark, not its neighbour", "\xd8\x9b\xd8\x9c", "\xd8\x9b" R"(\u061c)",
       "\"\xd8\x9b" R"(\u061c")"},
      {"embeddings and overrides", "\xe2\x80\xaa\xe2\x80\xae", R"(\u202a\u202e)",
       R"("\u202a\u202e")"},
      {"isolates", "\xe2\x81\xa6\xe2\x81\xa9", R"(\u2066\u2069)", R"("\u2066\u2069")"},
      {"their neighbours", "\xe2\x80\x8d\xe2\x80\xaf\xe2\x81\xaa",
       "\xe2\x80\x8d\xe2\x80\xaf\xe2\x81\xaa", "\"\xe2\x80\x8d\xe2\x80\xaf\xe2\x81\xaa\""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(row.shown, runner::printable(row.text));
    EXPECT_EQ(row.shown, runner::printable(row.shown)) << "printable text comes back unchanged";
    EXPECT_EQ(row.json, runner::printable_json(json_spirit::Value(row.text)));
  }
}

TEST(Runner_Output, TableCellsAreEscapedAndNeverBlank) {
  std::ostringstream out;
  runner::print_table(out, {"NAME", "STATE", "ID"},
                      {{"web\nquillon3: forged", "", "i-1"}, {"\xe2\x80\xae" "db", "on", ""}});
  EXPECT_EQ("NAME                   STATE  ID\n"
            "web\\nquillon3: forged  -      i-1\n"
            "\\u202edb               on     -\n",
            out.str());
}

// Swaps std::cerr for a string while it lives.
class Stderr_Capture {
 public:
  Stderr_Capture() : old_(std::cerr.rdbuf(text_.rdbuf())) {}
  ~Stderr_Capture() { std::cerr.rdbuf(old_); }
  std::string text() const { return text_.str(); }

 private:
  std::ostringstream text_;
  std::streambuf* const old_;
};

TEST(Runner_Output, VerboseLogKeepsARecordsLinesAndLetsNoneForgeOne) {
  const struct {
    const char* what;
    bool verbose;
    ACE_Log_Priority priority;
    std::string message;
    std::string shown;       // on stderr
    std::string last_error;  // kept for the failure's line
  } rows[] = {
      {"one line", true, LM_INFO, "backup started", "quillon3 [INFO] backup started\n", ""},
      {"outer newlines", true, LM_INFO, "\nbackup started\n\n", "quillon3 [INFO] backup started\n",
       ""},
      {"module's record on lines", true, LM_INFO, "\nJob Definition:\n\tid b\n\n\ttype backup\n",
       "quillon3 [INFO] Job Definition:\n    id b\n    type backup\n", ""},
      {"cloud's newline", true, LM_ERROR, "Keys refused\nquillon3: all done\r\x1b[2J.\n",
       "quillon3 [ERROR] Keys refused\n    quillon3: all done\\r\\x1b[2J.\n",
       R"(Keys refused\nquillon3: all done\r\x1b[2J)"},
      {"override in a further line", true, LM_WARNING, "a\n \xe2\x80\xae" "b",
       "quillon3 [WARNING] a\n    \\u202eb\n", ""},
      {"quiet", false, LM_ERROR, "failed\n\tbecause", "", R"(failed\n\tbecause)"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    runner::Runner_Log log;
    log.set_verbose(row.verbose);
    Stderr_Capture err;
    ACE_LOG_MSG->log(row.priority, "%s", row.message.c_str());
    EXPECT_EQ(row.shown, err.text());
    EXPECT_EQ(row.last_error, log.last_error());
  }
}

// While a job runs (keep_errors), a quiet log keeps its errors for the run's end and its
// warnings for the runner to show at once; the module's internal checks (emergency
// records with source paths) are only counted, printed only with -v, and never become
// the failure's reason. Warnings wait in a bounded number; the rest are counted.
TEST(Runner_Output, AJobsLogKeepsErrorsAndWarningsAndHidesInternalChecksUnlessVerbose) {
  const struct {
    const char* what;
    bool verbose;
    ACE_Log_Priority priority;
    std::string message;
    std::string shown;  // on stderr
    std::string errors, warnings, last_error;
    size_t internal;
  } rows[] = {
      {"warning", false, LM_WARNING, "Powering off i-a for its backup.\n", "", "",
       "Powering off i-a for its backup|", "", 0},
      {"warning, verbose", true, LM_WARNING, "Powering off i-a.\n",
       "quillon3 [WARNING] Powering off i-a.\n", "", "", "", 0},
      {"error", false, LM_ERROR, "Failed to get catalogs.\n", "", "Failed to get catalogs|", "",
       "Failed to get catalogs", 0},
      {"internal check", false, LM_EMERGENCY,
       "Unexpected error in module/job/handler.cpp:51, val.get_array() is empty array!\n", "", "",
       "", "", 1},
      {"internal check, verbose", true, LM_EMERGENCY,
       "Unexpected error in module/job/handler.cpp:51, x is NULL:\n  lib.so(+0x1f)\n",
       "quillon3 [EMERGENCY] Unexpected error in module/job/handler.cpp:51, x is NULL:\n"
       "    lib.so(+0x1f)\n",
       "", "", "", 1},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    runner::Runner_Log log;
    log.set_verbose(row.verbose);
    log.keep_errors();
    Stderr_Capture err;
    ACE_LOG_MSG->log(row.priority, "%s", row.message.c_str());
    EXPECT_EQ(row.shown, err.text());
    EXPECT_EQ(row.last_error, log.last_error());
    size_t dropped = 0, more = 0, internal = 0;
    std::string warnings, errors;
    for (const std::string& w : log.take_warnings(dropped)) warnings += w + "|";
    EXPECT_EQ(row.warnings, warnings);
    EXPECT_TRUE(log.take_warnings(dropped).empty()) << "each warning is taken once";
    for (const std::string& e : log.take_errors(more, internal)) errors += e + "|";
    EXPECT_EQ(row.errors, errors);
    EXPECT_EQ(row.internal, internal);
  }

  runner::Runner_Log log;
  log.keep_errors();
  for (size_t i = 0; i < runner::Runner_Log::MAX_WAITING_WARNINGS + 3; ++i)
    ACE_LOG_MSG->log(LM_WARNING, "warning %d\n", static_cast<int>(i));
  size_t dropped = 0;
  EXPECT_EQ(runner::Runner_Log::MAX_WAITING_WARNINGS, log.take_warnings(dropped).size());
  EXPECT_EQ(3u, dropped);
}

// A line the job tells again is left out; the lines remembered are bounded, so a job
// that tells ever new lines is shown them all without the runner growing without end.
TEST(Runner_Output, ShownLinesLeaveOutRepeatsUpToABound) {
  runner::Shown_Lines shown;
  std::string told;
  for (const char* line : {"a\n", "b\n", "a\n", "a\n", "b\n", "c\n"})
    if (shown.first_time(line)) told += line;
  EXPECT_EQ("a\nb\nc\n", told);
  for (size_t i = 3; i < runner::Shown_Lines::MAX_REMEMBERED; ++i)
    EXPECT_TRUE(shown.first_time(std::to_string(i)));
  EXPECT_TRUE(shown.first_time("past the bound"));
  EXPECT_TRUE(shown.first_time("past the bound")) << "not remembered";
  EXPECT_FALSE(shown.first_time("a\n"));
}

}  // namespace

#include "client_io/util.h"

#include "identity/host_manager.h"
#include "job_engine/job_definition.h"
#include "support/log_capture.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

namespace {

std::string access_header(const Client_IO_Base::Options& opts) {
  const std::string* v = opts.extra_option(http_head_string(HTTP_HEAD_X_ACCESS_KEY));
  return v ? *v : "<none>";
}

// One window of a rate limit as "start-end:rate ".
std::string window(const Rate_Control_Entry& e) {
  return std::to_string(e.start_time) + "-" + std::to_string(e.end_time) + ":" +
         std::to_string(e.max_bytes_per_second) + " ";
}

// The destination's windows, "/ ", then the source's.
std::string text(const Rate_Limits& limits) {
  std::string out;
  for (const Rate_Control_Entry& e : limits.dest_rate_limits) out += window(e);
  out += "/ ";
  for (const Rate_Control_Entry& e : limits.src_rate_limits) out += window(e);
  return out;
}

// On the backup daemon's host the node's key is sent, elsewhere the host's; either
// replaces a key already set.
TEST(Client_IO_Util, AccessKeyDependsOnTheBackupDaemonHost) {
  test::Log_Capture log;  // the homes hold no key pair
  const std::pair<const char*, std::string> cases[] = {{R"(, "on_backupd": true})", "node-key"},
      {R"(, "on_backupd": false})", "host-key"}, {"}", "host-key"}};
  for (const auto& [tail, key] : cases) {
    test::Temp_Home home("client_io_util.");
    std::ofstream(home.dir() + "/identity.json")
        << R"({"access_key": "host-key", "node_access_key": "node-key")" << tail;
    Host_Manager::instance().reload();
    Client_IO_Base::Options opts;
    opts.set_extra_option(http_head_string(HTTP_HEAD_X_ACCESS_KEY), "stale");
    set_options_by_host(opts);
    EXPECT_EQ(access_header(opts) + " " + std::to_string(opts.extra_options.size()), key + " 1");
  }
}

TEST(Client_IO_Util, HeadersWithoutANameAreNotStored) {
  Client_IO_Base::Options opts;
  for (int id : {-1, static_cast<int>(HTTP_HEAD_COUNT), 100000})
    set_http_head_to_options(opts, id, "v");
  set_http_head_to_options(opts, HTTP_HEAD_USER_AGENT, "agent");
  EXPECT_EQ(opts.extra_options.size(), 1u);
}

// The job's rate limits replace the options' and are shared among the channels (at least
// a byte a second each, unlimited stays unlimited), the job's own left as they were.
TEST(Client_IO_Util, JobRateLimitsAreSharedAmongTheChannels) {
  Job_Definition def;
  Client_IO_Base::Options opts;
  opts.rate_limits.dest_rate_limits.push_back({0, 0, 5});
  set_options_by_job_def(opts, def, 1);
  EXPECT_EQ(text(opts.rate_limits), "/ ");
  def.set_rate_limits(Rate_Limits{{{0, 3600, 1000}, {3600, 0, 0}}, {{0, 0, 3}}});
  const std::pair<size_t, const char*> cases[] = {{0, "0-3600:1000 3600-0:0 / 0-0:3 "},
      {2, "0-3600:500 3600-0:0 / 0-0:1 "}, {5000, "0-3600:1 3600-0:0 / 0-0:1 "}};
  for (const auto& [channels, limits] : cases) {
    set_options_by_job_def(opts, def, channels);
    EXPECT_EQ(text(opts.rate_limits), limits) << channels;
  }
  EXPECT_EQ(text(def.rate_limits()), "0-3600:1000 3600-0:0 / 0-0:3 ");
}

}  // namespace

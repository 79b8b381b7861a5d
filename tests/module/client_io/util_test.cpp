#include "client_io/util.h"

#include "identity/host_manager.h"
#include "job_engine/job_definition.h"
#include "support/log_capture.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

namespace {

// A host home holding only identity.json, for as long as the object lives.
class Identity_Home {
 public:
  explicit Identity_Home(const std::string& identity_json) : home_("client_io_util.") {
    std::ofstream(home_.dir() + "/identity.json") << identity_json;
    Host_Manager::instance().reload();
  }

 private:
  test::Temp_Home home_;
};

std::string access_header(const Client_IO_Base::Options& opts) {
  const std::string* v = opts.extra_option(http_head_string(HTTP_HEAD_X_ACCESS_KEY));
  return v ? *v : "<none>";
}

TEST(Client_IO_Util, AccessKeyDependsOnTheBackupDaemonHost) {
  test::Log_Capture log;  // the homes hold no key pair
  struct Case {
    const char* identity;
    const char* key;
  } cases[] = {
      {R"({"access_key": "host-key", "node_access_key": "node-key", "on_backupd": true})",
       "node-key"},
      {R"({"access_key": "host-key", "node_access_key": "node-key", "on_backupd": false})",
       "host-key"},
      {R"({"access_key": "host-key", "node_access_key": "node-key"})", "host-key"},
  };
  for (const Case& c : cases) {
    Identity_Home home(c.identity);
    Client_IO_Base::Options opts;
    opts.set_extra_option(http_head_string(HTTP_HEAD_X_ACCESS_KEY), "stale");
    set_options_by_host(opts);
    EXPECT_EQ(access_header(opts), c.key) << c.identity;
    EXPECT_EQ(opts.extra_options.size(), 1u);
  }
}

TEST(Client_IO_Util, HeadersWithoutANameAreNotStored) {
  Client_IO_Base::Options opts;
  for (int id : {-1, static_cast<int>(HTTP_HEAD_COUNT), 100000}) {
    set_http_head_to_options(opts, id, "v");
  }
  EXPECT_TRUE(opts.extra_options.empty());
  set_http_head_to_options(opts, HTTP_HEAD_USER_AGENT, "agent");
  set_access_key_to_options(opts, "k");
  EXPECT_EQ(opts.extra_options.size(), 2u);
  EXPECT_EQ(*opts.extra_option(http_head_string(HTTP_HEAD_USER_AGENT)), "agent");
  EXPECT_EQ(access_header(opts), "k");
}

TEST(Client_IO_Util, JobDefinitionSettings) {
  Job_Definition def;
  def.set_max_seconds_retry(300);
  def.set_resumption_buffer_size(1 << 20);
  def.set_server_side_dedup(true);
  Client_IO_Base::Options opts;
  opts.rate_limits.dest_rate_limits.push_back({0, 0, 5});  // replaced, not merged
  set_options_by_job_def(opts, def, 1);
  EXPECT_EQ(opts.max_seconds_retry, 300u);
  EXPECT_EQ(opts.resumption_buffer_size, size_t(1) << 20);
  EXPECT_TRUE(opts.server_side_dedup);
  EXPECT_TRUE(opts.rate_limits.dest_rate_limits.empty());
  EXPECT_TRUE(opts.rate_limits.src_rate_limits.empty());

  Rate_Limits limits;
  limits.dest_rate_limits = {{0, 3600, 1000}, {3600, 0, 0}};
  limits.src_rate_limits = {{0, 0, 3}};
  def.set_rate_limits(limits);
  struct Case {
    size_t channels;
    size_t dest, src;
  } cases[] = {{0, 1000, 3}, {2, 500, 1}, {5000, 1, 1}};
  for (const Case& c : cases) {
    set_options_by_job_def(opts, def, c.channels);
    ASSERT_EQ(opts.rate_limits.dest_rate_limits.size(), 2u);
    EXPECT_EQ(opts.rate_limits.dest_rate_limits[0].max_bytes_per_second, c.dest) << c.channels;
    EXPECT_EQ(opts.rate_limits.dest_rate_limits[0].end_time, 3600u);
    EXPECT_EQ(opts.rate_limits.dest_rate_limits[1].max_bytes_per_second, 0u);  // stays unlimited
    EXPECT_EQ(opts.rate_limits.src_rate_limits[0].max_bytes_per_second, c.src) << c.channels;
  }
  EXPECT_EQ(def.rate_limits().dest_rate_limits[0].max_bytes_per_second, 1000u);
}

}  // namespace

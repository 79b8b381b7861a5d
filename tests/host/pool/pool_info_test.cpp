#include "pool/pool_info.h"

#include "pool/pool_registry.h"
#include "pool_test_env.h"
#include "runtime/http_head.h"
#include "support/log_capture.h"
#include "support/sleep_recorder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>

namespace {

using pool_test::Pool_Env;

bool lookup(const char* id, const char* device, Pool_Info& info, bool allow_offline = false,
            bool require_device = true, const char* host = nullptr, int retry_seconds = 0) {
  return get_pool_info(id, device, info, allow_offline, retry_seconds, nullptr, require_device,
                       host, nullptr, false);
}

// Found by uuid or name: the url loses its trailing slash, known attributes fill their
// fields (a cipher makes the pool encrypted) and the rest stays; an unknown pool, or a
// device or host that does not match, is refused and leaves the record alone.
TEST(Pool_Info, LookupFillsTheRecordOrRefuses) {
  Pool_Env env;
  test::Log_Capture log;
  const Pool_Record rec{"pool-2", "second", "host-2", "file://" + env.root() + "/second/", {"d"},
                        {{"preferred_source_address", "10.1.1.1"}, {"tenant_access_key", "tk"},
                         {"dedup_backend_type", "none"}, {"rack", "r7"}}};
  const Pool_Record enc{"enc", "", "", env.url() + "/enc", {}, {{"cipher", "aes-256-cbc"}}};
  ASSERT_TRUE(Pool_Registry().add(rec) && Pool_Registry().add(enc));
  ::mkdir((env.root() + "/second").c_str(), 0700);
  Pool_Info info;
  std::vector<std::string> devices;
  std::string error;
  ASSERT_TRUE(get_pool_info("second", "d", info, false, 0, &error, true, "host-2", &devices, true));
  EXPECT_EQ(info.url + " " + info.preferred_source_address + " " + info.tenant_access_key + " " +
                std::to_string(info.device_exists) + std::to_string(info.multidevice) +
                std::to_string(info.server_side_encryption),
            "file://" + env.root() + "/second 10.1.1.1 tk 100");
  EXPECT_EQ(info.ext_attrs, (std::map<std::string, std::string>{{"rack", "r7"}}));
  EXPECT_EQ(devices, std::vector<std::string>{"d"});
  info.name = "untouched";
  EXPECT_FALSE(
      get_pool_info("nope", nullptr, info, false, 0, &error, true, nullptr, nullptr, false));
  EXPECT_THAT(error, testing::HasSubstr("not registered"));
  EXPECT_FALSE(lookup("", nullptr, info) || lookup(nullptr, nullptr, info) ||
               lookup("pool-1", "dev-9", info) ||
               lookup("pool-1", nullptr, info, false, true, "host-2"));
  EXPECT_EQ(info.name, "untouched");
  EXPECT_TRUE(lookup("pool-1", "dev-9", info, false, false) && !info.device_exists);
  EXPECT_TRUE(lookup("pool-1", "dev-2", info, false, true, "host-1") && info.device_exists &&
              info.multidevice && info.url == env.url());
  EXPECT_TRUE(lookup("enc", nullptr, info, true) && info.server_side_encryption &&
              info.cipher == ENCRYPT_AES_256_CBC);
}

// A missing pool directory is waited for within the retry time, and no longer.
TEST(Pool_Info, MissingDirectoryIsWaitedForWithinTheRetryTime) {
  Pool_Env env;
  test::Log_Capture log;
  ASSERT_EQ(::rmdir(env.root().c_str()), 0);
  Pool_Info info;
  // Without retries it is refused, unless the pool may be offline.
  EXPECT_TRUE(!lookup("pool-1", nullptr, info) && lookup("pool-1", nullptr, info, true));
  for (const bool appears : {true, false}) {
    test::Sleep_Recorder sleeps([&](size_t n) {
      if (n == 2 && appears) ::mkdir(env.root().c_str(), 0700);
    });
    EXPECT_EQ(lookup("pool-1", nullptr, info, false, true, nullptr, appears ? 60 : 5), appears);
    const std::vector<unsigned> budget{1, 2, 2};  // 5 seconds, not more
    EXPECT_EQ(sleeps.waits(), std::vector<unsigned>(budget.begin(), budget.end() - appears));
    ::rmdir(env.root().c_str());
  }
}

// The pool's settings fill the options without replacing what the host set; a pool or
// job that wants encryption or S3 is refused and the options stay as they were.
TEST(Pool_Info, OptionsTakeThePoolsSettingsOrRefuse) {
  test::Log_Capture log;
  Client_IO_Base::Options opts;
  const char* header = http_head_string(HTTP_HEAD_X_ACCESS_KEY);
  opts.set_extra_option(header, "host-key");
  opts.set_extra_option("X-Existing", "mine");
  Pool_Info pool;
  pool.preferred_source_address = "10.0.0.9";
  pool.ext_attrs = {{header, "pool-key"}, {"X-Existing", "pool"}, {"X-New", "new"}};
  ASSERT_TRUE(set_options_by_pool(opts, pool));
  EXPECT_EQ(*opts.extra_option(header) + *opts.extra_option("X-Existing") +
                *opts.extra_option("X-New"), "host-keyminenew");
  const std::tuple<const char*, bool, Encryption_Algorithm, bool, Encryption_Algorithm> cases[] = {
      {"server-side encryption", true, ENCRYPT_NONE, false, ENCRYPT_NONE},
      {"pool cipher", false, ENCRYPT_AES_256_CBC, false, ENCRYPT_NONE},
      {"s3", false, ENCRYPT_NONE, true, ENCRYPT_NONE},
      {"job asks for encryption", false, ENCRYPT_NONE, false, ENCRYPT_AES_128_CBC}};
  for (const auto& [name, sse, cipher, s3, job_cipher] : cases) {
    Client_IO_Base::Options refused;
    refused.encryption_algorithm = job_cipher;
    std::tie(pool.server_side_encryption, pool.cipher, pool.s3_enabled) = std::tie(sse, cipher, s3);
    EXPECT_FALSE(set_options_by_pool(refused, pool)) << name;
    EXPECT_EQ(refused.preferred_source_address, "") << name;
  }
}

}  // namespace

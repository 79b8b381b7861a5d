#include "pool/pool_info.h"

#include "pool/pool_registry.h"
#include "pool_test_env.h"
#include "runtime/http_head.h"
#include "runtime/sleep.h"
#include "support/log_capture.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <string>

namespace {

using pool_test::Pool_Env;

bool lookup(const char* id, const char* device, Pool_Info& info, bool allow_offline = false,
            bool require_device = true, const char* host = nullptr, std::string* error = nullptr) {
  return get_pool_info(id, device, info, allow_offline, 0, error, require_device, host, nullptr,
                       false);
}

TEST(Pool_Info, LookupFillsTheRecord) {
  Pool_Env env;
  Pool_Record rec;
  rec.uuid = "pool-2";
  rec.name = "second";
  rec.host_uuid = "host-2";
  rec.url = "file://" + env.root() + "/second/";
  rec.device_ids = {"d"};
  rec.attrs = {{"preferred_source_address", "10.1.1.1"}, {"tenant_access_key", "tk"},
               {"dedup_backend_type", "none"}, {"rack", "r7"}};
  ASSERT_TRUE(Pool_Registry().add(rec));
  ::mkdir((env.root() + "/second").c_str(), 0700);
  Pool_Info info;
  std::vector<std::string> devices;
  ASSERT_TRUE(get_pool_info("second", "d", info, false, 0, nullptr, true, "host-2", &devices, true));
  // The url loses its trailing slash; known attributes fill their fields, the rest stays.
  EXPECT_EQ(info.url, "file://" + env.root() + "/second");
  EXPECT_TRUE(info.device_exists && !info.multidevice && !info.server_side_encryption);
  EXPECT_EQ(info.preferred_source_address + info.tenant_access_key, "10.1.1.1tk");
  EXPECT_EQ(info.ext_attrs, (std::map<std::string, std::string>{{"rack", "r7"}}));
  EXPECT_EQ(devices, std::vector<std::string>{"d"});
  ASSERT_TRUE(lookup("pool-1", nullptr, info));
  EXPECT_TRUE(info.multidevice);
  EXPECT_EQ(info.url, env.url());
}

TEST(Pool_Info, LookupRefusals) {
  Pool_Env env;
  test::Log_Capture log;
  Pool_Info info;
  info.name = "untouched";
  std::string error;
  EXPECT_FALSE(lookup("nope", nullptr, info, false, true, nullptr, &error));
  EXPECT_NE(error.find("not registered"), std::string::npos);
  EXPECT_FALSE(lookup("", nullptr, info));
  EXPECT_FALSE(lookup(nullptr, nullptr, info));
  EXPECT_FALSE(lookup("pool-1", "dev-9", info));
  EXPECT_FALSE(lookup("pool-1", nullptr, info, false, true, "host-2"));
  EXPECT_EQ(info.name, "untouched");
  ASSERT_TRUE(lookup("pool-1", "dev-9", info, false, false));
  EXPECT_FALSE(info.device_exists);
  ASSERT_TRUE(lookup("pool-1", "dev-2", info, false, true, "host-1"));
  EXPECT_TRUE(info.device_exists);
}

std::atomic<int> sleeps{0};
std::string* dir_to_create = nullptr;

void create_on_second_sleep(unsigned int) {
  if (++sleeps == 2 && dir_to_create != nullptr) ::mkdir(dir_to_create->c_str(), 0700);
}

TEST(Pool_Info, MissingDirectoryIsWaitedForWithinTheRetryTime) {
  Pool_Env env;
  test::Log_Capture log;
  ASSERT_EQ(::rmdir(env.root().c_str()), 0);
  Pool_Info info;
  EXPECT_FALSE(lookup("pool-1", nullptr, info));        // no retry time
  EXPECT_TRUE(lookup("pool-1", nullptr, info, true));   // offline allowed
  std::string root = env.root();
  dir_to_create = &root;
  sleeps = 0;
  Sleep_Hook old = set_sleep_hook(create_on_second_sleep);
  EXPECT_TRUE(get_pool_info("pool-1", nullptr, info, false, 60, nullptr, true, nullptr, nullptr,
                            false));
  EXPECT_EQ(sleeps.load(), 2);
  ASSERT_EQ(::rmdir(env.root().c_str()), 0);
  dir_to_create = nullptr;
  sleeps = 0;
  EXPECT_FALSE(get_pool_info("pool-1", nullptr, info, false, 5, nullptr, true, nullptr, nullptr,
                             false));
  EXPECT_EQ(sleeps.load(), 3);  // 1 + 2 + 2 seconds: the budget, not more
  set_sleep_hook(old);
}

TEST(Pool_Info, OptionsTakeThePoolsSettings) {
  Client_IO_Base::Options opts;
  const char* header = http_head_string(HTTP_HEAD_X_ACCESS_KEY);
  ASSERT_NE(header, nullptr);
  opts.set_extra_option(header, "host-key");
  opts.set_extra_option("X-Existing", "mine");
  Pool_Info pool;
  pool.preferred_source_address = "10.0.0.9";
  pool.node_addrs = {{1, "10.0.0.1"}};
  pool.ext_attrs = {{header, "pool-key"}, {"X-Existing", "pool"}, {"X-New", "new"}};
  ASSERT_TRUE(set_options_by_pool(opts, pool));
  EXPECT_EQ(*opts.extra_option(header), "host-key");
  EXPECT_EQ(*opts.extra_option("X-Existing"), "mine");
  EXPECT_EQ(*opts.extra_option("X-New"), "new");
  EXPECT_EQ(opts.preferred_source_address, "10.0.0.9");
  EXPECT_EQ(opts.node_addresses.at(1), "10.0.0.1");
}

TEST(Pool_Info, OptionsRefuseWhatTheHostCannotHonour) {
  test::Log_Capture log;
  struct Case {
    const char* name;
    bool sse;
    Encryption_Algorithm cipher;
    bool s3;
    Encryption_Algorithm wanted;
  } cases[] = {{"server-side encryption", true, ENCRYPT_NONE, false, ENCRYPT_NONE},
               {"pool cipher", false, ENCRYPT_AES_256_CBC, false, ENCRYPT_NONE},
               {"s3", false, ENCRYPT_NONE, true, ENCRYPT_NONE},
               {"job asks for encryption", false, ENCRYPT_NONE, false, ENCRYPT_AES_128_CBC}};
  for (const Case& c : cases) {
    Client_IO_Base::Options opts;
    opts.encryption_algorithm = c.wanted;
    Pool_Info pool;
    pool.server_side_encryption = c.sse;
    pool.cipher = c.cipher;
    pool.s3_enabled = c.s3;
    pool.preferred_source_address = "changed";
    EXPECT_FALSE(set_options_by_pool(opts, pool)) << c.name;
    EXPECT_EQ(opts.preferred_source_address, "") << c.name;
  }
  Pool_Env env;
  Pool_Record enc;
  enc.uuid = "enc";
  enc.url = env.url() + "/enc";
  enc.attrs = {{"cipher", "aes-256-cbc"}};
  ASSERT_TRUE(Pool_Registry().add(enc));
  Pool_Info info;
  ASSERT_TRUE(lookup("enc", nullptr, info, true));
  EXPECT_TRUE(info.server_side_encryption);
  EXPECT_EQ(info.cipher, ENCRYPT_AES_256_CBC);
  Client_IO_Base::Options opts;
  EXPECT_FALSE(set_options_by_pool(opts, info));
}

}  // namespace

#include "client_io/client_io_base.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace {

TEST(Client_IO_Base, PoolInfoDefaults) {
  Pool_Info info;
  EXPECT_TRUE(info.device_exists);
  EXPECT_FALSE(info.multidevice);
  EXPECT_FALSE(info.server_side_encryption);
  EXPECT_FALSE(info.s3_enabled);
  EXPECT_EQ(info.cipher, 0);
  EXPECT_TRUE(info.uuid.empty() && info.name.empty() && info.host_uuid.empty() &&
              info.url.empty() && info.key.empty() && info.iv.empty() &&
              info.preferred_source_address.empty() && info.tenant_access_key.empty() &&
              info.dedup_backend_type.empty());
  EXPECT_TRUE(info.ext_attrs.empty() && info.node_addrs.empty() && info.default_s3.empty());
}

TEST(Client_IO_Base, Defaults) {
  Client_IO_Base::Options o;
  EXPECT_EQ(o.compression_method, COMPR_NONE);
  EXPECT_EQ(o.encryption_algorithm, ENCRYPT_NONE);
  EXPECT_EQ(o.d2t_access_mode, Client_IO_Base::D2T_Access_Auto);
  EXPECT_FALSE(o.overwrite || o.flush_after_write || o.server_side_dedup);
  const File_Options f(131072);
  EXPECT_EQ(f.block_size, 131072u);
  EXPECT_EQ(f.discard_cache, File_Options::DISCARD_CACHE_NONE);
  EXPECT_FALSE(f.read_ahead);
  EXPECT_EQ(f.sync_close, File_Options::SYNC_CLOSE_NONE);
  EXPECT_EQ(f.sync, File_Options::SYNC_NONE);
  EXPECT_EQ(Rate_Limits::dest_key, "dest");
  EXPECT_EQ(Rate_Limits::src_key, "src");
}

// Every volume task gets its own copy of the job's options, so a copy must carry every
// member, key material included, and stay independent of its source.
Client_IO_Base::Options filled_options() {
  Client_IO_Base::Options o;
  o.overwrite = true;
  o.socket_timeout_seconds = 17;
  o.max_seconds_retry = 300;
  o.resumption_buffer_size = 4096;
  o.forward = true;
  o.rate_limits.dest_rate_limits.push_back({1, 2, 3});
  o.rate_limits.src_rate_limits.push_back({4, 5, 6});
  o.compression_method = COMPR_ZSTD;
  o.compression_level = 9;
  o.encryption_algorithm = ENCRYPT_AES_256_CBC;
  for (size_t i = 0; i < sizeof o.key; ++i) o.key[i] = static_cast<unsigned char>(i + 1);
  o.key_len = 32;
  for (size_t i = 0; i < sizeof o.iv; ++i) o.iv[i] = static_cast<unsigned char>(0xf0 + i);
  o.iv_len = 16;
  o.dedup_chunk_size = 65536;
  o.dedup_max_memory_usage = 1 << 20;
  o.server_side_dedup = true;
  o.flush_after_write = true;
  o.access_key = "access";
  o.secret_key = "a secret longer than any short-string buffer holds";
  o.preferred_source_address = "10.0.0.9";
  o.d2t_access_mode = Client_IO_Base::D2T_Access_RPC;
  o.node_addresses[7] = "10.0.0.7";
  o.set_extra_option("X-Access-Key", "k");
  o.scan_initiators = {"iqn.a", "iqn.b"};
  return o;
}

void expect_filled(const Client_IO_Base::Options& o) {
  const Client_IO_Base::Options f = filled_options();
  EXPECT_TRUE(o.overwrite && o.forward && o.server_side_dedup && o.flush_after_write);
  EXPECT_EQ(17, o.socket_timeout_seconds);
  EXPECT_EQ(300u, o.max_seconds_retry);
  EXPECT_EQ(4096u, o.resumption_buffer_size);
  ASSERT_EQ(1u, o.rate_limits.dest_rate_limits.size());
  EXPECT_EQ(3u, o.rate_limits.dest_rate_limits[0].max_bytes_per_second);
  ASSERT_EQ(1u, o.rate_limits.src_rate_limits.size());
  EXPECT_EQ(5u, o.rate_limits.src_rate_limits[0].end_time);
  EXPECT_EQ(COMPR_ZSTD, o.compression_method);
  EXPECT_EQ(9, o.compression_level);
  EXPECT_EQ(ENCRYPT_AES_256_CBC, o.encryption_algorithm);
  EXPECT_EQ(0, std::memcmp(f.key, o.key, sizeof o.key));
  EXPECT_EQ(32u, o.key_len);
  EXPECT_EQ(0, std::memcmp(f.iv, o.iv, sizeof o.iv));
  EXPECT_EQ(16u, o.iv_len);
  EXPECT_EQ(65536u, o.dedup_chunk_size);
  EXPECT_EQ(1u << 20, o.dedup_max_memory_usage);
  EXPECT_EQ("access", o.access_key);
  EXPECT_EQ(f.secret_key, o.secret_key);
  EXPECT_EQ("10.0.0.9", o.preferred_source_address);
  EXPECT_EQ(Client_IO_Base::D2T_Access_RPC, o.d2t_access_mode);
  EXPECT_EQ(f.node_addresses, o.node_addresses);
  EXPECT_EQ(f.extra_options, o.extra_options);
  EXPECT_EQ(f.scan_initiators, o.scan_initiators);
}

TEST(Client_IO_Base, OptionsCopiesCarryEveryMemberAndStayIndependent) {
  auto source = std::make_unique<Client_IO_Base::Options>(filled_options());
  const Client_IO_Base::Options constructed(*source);
  Client_IO_Base::Options assigned;
  assigned = *source;
  // The source's destructor wipes its own key material only.
  source.reset();
  {
    SCOPED_TRACE("copy construction");
    expect_filled(constructed);
  }
  {
    SCOPED_TRACE("copy assignment");
    expect_filled(assigned);
  }
  Client_IO_Base::Options changed(constructed);
  changed.key[0] = 0;
  changed.set_extra_option("X-Access-Key", "other");
  changed.rate_limits.dest_rate_limits.clear();
  expect_filled(constructed);
}

}  // namespace

#include "client_io/client_io_base.h"

#include <gtest/gtest.h>


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

}  // namespace

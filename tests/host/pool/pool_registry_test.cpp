#include "pool/pool_registry.h"

#include "pool_test_env.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <tuple>

namespace {

// Records live in the host home; fields with the file's separators and escapes round
// trip; add replaces by uuid and refuses records it could never serve; a directory
// belongs to the pool with the longest root holding it, by whole path components.
TEST(Pool_Registry, RecordsRoundTripAndBadOnesAreRefused) {
  pool_test::Pool_Env env;
  EXPECT_EQ(Pool_Registry::default_path(), env.dir() + "/pools");
  const Pool_Record rec{"u\t%2", "a,b=c\nd", "", "file:///srv/moved/deep,x", {"d,1", "", "d%2"},
                        {{"preferred_source_address", "10.0.0.1"}, {"k=1", "v,2\t"}}};
  ASSERT_TRUE(Pool_Registry().add(rec));
  ASSERT_TRUE(Pool_Registry().add({"pool-1", "renamed", "", "file:///srv/moved", {}, {}}));
  Pool_Registry registry;
  ASSERT_TRUE(registry.load());
  ASSERT_EQ(registry.pools().size(), 2u);
  const Pool_Record* p = registry.find("u\t%2");
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(std::tie(p->name, p->url, p->device_ids, p->attrs),
            std::tie(rec.name, rec.url, rec.device_ids, rec.attrs));
  EXPECT_TRUE(registry.find("renamed") == registry.find("pool-1") &&
              registry.find("main") == nullptr);
  const std::pair<std::string, std::string> roots[] = {
      {"/srv/moved", "pool-1"}, {"/srv/moved/x/y", "pool-1"}, {"/srv/moved/deep,x", "u\t%2"},
      {"/srv/moved/deep,x/y", "u\t%2"}, {"/srv/moved/deep,xy", "pool-1"}, {"/srv/moved2", ""},
      {"/srv", ""}};
  for (const auto& [dir, uuid] : roots) {
    const Pool_Record* r = registry.find_root_of(dir);
    EXPECT_EQ(r ? r->uuid : "", uuid) << dir;
  }
  const std::tuple<std::string, std::string, std::string> bad[] = {
      {"", "n", "file:///x"}, {"p2", "renamed", "file:///y"} /* name taken */,
      {"p3", "n3", "/srv/x"}, {"p4", "n4", "file://srv/x"}, {"p5", "n5", "file:///srv/../etc"}};
  for (const auto& [uuid, name, url] : bad) {
    std::string error;
    EXPECT_FALSE(registry.add({uuid, name, "", url, {}, {}}, &error) || error.empty()) << uuid;
  }
  ASSERT_TRUE(registry.remove("pool-1") && registry.remove("pool-1") && registry.load());
  EXPECT_EQ(registry.pools().size(), 1u);
  // A missing file is an empty registry; a malformed line fails the load and names itself.
  Pool_Registry missing(env.dir() + "/none");
  EXPECT_TRUE(missing.load() && missing.pools().empty());
  for (const char* text : {"only\ttwo\n", "a\tb\tc\td\te\tf\tg\n", "a\tb\tc\td\te\tnoequals\n",
                           "a%zz\tb\tc\td\te\n", "a%4\tb\tc\td\te\n"}) {
    pool_test::write_file(env.dir() + "/bad", std::string("# comment\n\n") + text);
    Pool_Registry registry(env.dir() + "/bad");
    std::string error;
    EXPECT_TRUE(!registry.load(&error) && registry.pools().empty()) << text;
    EXPECT_THAT(error, testing::HasSubstr("line 3"));
  }
}

}  // namespace

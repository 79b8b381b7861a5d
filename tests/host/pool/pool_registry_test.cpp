#include "pool/pool_registry.h"

#include "pool_test_env.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

using pool_test::Pool_Env;

// Records live in the host home; fields with the file's separators and escapes round
// trip; add replaces by uuid and refuses records it could never serve.
TEST(Pool_Registry, RecordsRoundTripAndBadOnesAreRefused) {
  Pool_Env env;
  EXPECT_EQ(Pool_Registry::default_path(), env.home() + "/pools");
  Pool_Record rec;
  rec.uuid = "u\t%2";
  rec.name = "a,b=c\nd";
  rec.url = "file:///srv/pool,x";
  rec.device_ids = {"d,1", "", "d%2"};
  rec.attrs = {{"preferred_source_address", "10.0.0.1"}, {"k=1", "v,2\t"}};
  ASSERT_TRUE(Pool_Registry().add(rec));
  rec.uuid = "pool-1";
  rec.name = "renamed";
  rec.url = "file:///srv/moved";
  ASSERT_TRUE(Pool_Registry().add(rec));
  Pool_Registry registry;
  ASSERT_TRUE(registry.load());
  ASSERT_EQ(registry.pools().size(), 2u);
  const Pool_Record* p = registry.find("u\t%2");
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(std::tie(p->name, p->url, p->device_ids, p->attrs),
            std::tie("a,b=c\nd", "file:///srv/pool,x", rec.device_ids, rec.attrs));
  EXPECT_EQ(registry.find("renamed"), registry.find("pool-1"));  // by name too
  EXPECT_EQ(registry.find("pool-1")->root(), "/srv/moved");
  EXPECT_EQ(registry.find("main"), nullptr);
  const std::tuple<std::string, std::string, std::string> bad[] = {
      {"", "n", "file:///x"}, {"p2", "renamed", "file:///y"} /* name taken */,
      {"p3", "n3", "/srv/x"}, {"p4", "n4", "file://srv/x"}, {"p5", "n5", "file:///srv/../etc"}};
  for (const auto& c : bad) {
    Pool_Record r;
    std::tie(r.uuid, r.name, r.url) = c;
    std::string error;
    EXPECT_FALSE(registry.add(r, &error)) << r.uuid;
    EXPECT_NE(error, "");
  }
  ASSERT_TRUE(registry.remove("pool-1") && registry.remove("pool-1") && registry.load());
  EXPECT_EQ(registry.pools().size(), 1u);
}

TEST(Pool_Registry, MissingFileIsEmptyAndMalformedFileFails) {
  Pool_Env env;
  Pool_Registry missing(env.dir() + "/none");
  EXPECT_TRUE(missing.load());
  EXPECT_TRUE(missing.pools().empty());
  for (const char* text : {"only\ttwo\n", "a\tb\tc\td\te\tf\tg\n", "a\tb\tc\td\te\tnoequals\n",
                           "a%zz\tb\tc\td\te\n", "a%4\tb\tc\td\te\n"}) {
    pool_test::write_file(env.dir() + "/bad", std::string("# comment\n\n") + text);
    Pool_Registry registry(env.dir() + "/bad");
    std::string error;
    EXPECT_FALSE(registry.load(&error)) << text;
    EXPECT_NE(error.find("line 3"), std::string::npos) << error;
    EXPECT_TRUE(registry.pools().empty());
  }
}

TEST(Pool_Registry, RootLookupRespectsComponentBoundaries) {
  Pool_Env env;
  Pool_Registry registry;
  Pool_Record nested;
  nested.uuid = "nested";
  nested.url = "file://" + env.root() + "/deep";
  ASSERT_TRUE(registry.add(nested) && registry.load());
  const std::pair<std::string, std::string> cases[] = {
      {env.root(), "pool-1"}, {env.root() + "/x/y", "pool-1"}, {env.root() + "/deep", "nested"},
      {env.root() + "/deep/x", "nested"}, {env.root() + "/deeper", "pool-1"},
      {env.root() + "2", ""}, {env.dir(), ""}};
  for (const auto& c : cases) {
    const Pool_Record* p = registry.find_root_of(c.first);
    EXPECT_EQ(p ? p->uuid : "", c.second) << c.first;
  }
}

}  // namespace

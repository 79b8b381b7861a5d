#include "pool/pool_registry.h"

#include "pool_test_env.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

using pool_test::Pool_Env;

TEST(Pool_Registry, LivesInTheHostHome) {
  Pool_Env env;
  EXPECT_EQ(Pool_Registry::default_path(), env.home() + "/pools");
  Pool_Registry registry;
  ASSERT_TRUE(registry.load());
  ASSERT_EQ(registry.pools().size(), 1u);
  const Pool_Record* p = registry.find("pool-1");
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(registry.find("main"), p);  // by name too
  EXPECT_EQ(p->root(), env.root());
  EXPECT_EQ(registry.find("other"), nullptr);
}

TEST(Pool_Registry, FieldsWithSeparatorsRoundTrip) {
  Pool_Env env;
  Pool_Record rec;
  rec.uuid = "u\t%2";
  rec.name = "a,b=c\nd";
  rec.host_uuid = "";
  rec.url = "file:///srv/pool,x";
  rec.device_ids = {"d,1", "", "d%2"};
  rec.attrs = {{"preferred_source_address", "10.0.0.1"}, {"k=1", "v,2\t"}};
  ASSERT_TRUE(Pool_Registry().add(rec));
  Pool_Registry registry;
  ASSERT_TRUE(registry.load());
  const Pool_Record* p = registry.find("u\t%2");
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(std::tie(p->name, p->url, p->device_ids, p->attrs),
            std::tie(rec.name, rec.url, rec.device_ids, rec.attrs));
}

TEST(Pool_Registry, AddReplacesByUuidAndRefusesBadRecords) {
  Pool_Env env;
  Pool_Registry registry;
  Pool_Record rec;
  rec.uuid = "pool-1";
  rec.name = "renamed";
  rec.url = "file:///srv/moved";
  ASSERT_TRUE(registry.add(rec));
  ASSERT_TRUE(registry.load());
  ASSERT_EQ(registry.pools().size(), 1u);
  EXPECT_EQ(registry.find("pool-1")->root(), "/srv/moved");
  struct Case {
    std::string uuid, name, url;
  } bad[] = {{"", "n", "file:///x"},
             {"p2", "renamed", "file:///y"},  // name taken
             {"p3", "n3", "/srv/x"},
             {"p4", "n4", "file://srv/x"},
             {"p5", "n5", "file:///srv/../etc"}};
  for (const Case& c : bad) {
    Pool_Record r;
    r.uuid = c.uuid;
    r.name = c.name;
    r.url = c.url;
    std::string error;
    EXPECT_FALSE(registry.add(r, &error)) << c.uuid;
    EXPECT_NE(error, "");
  }
  ASSERT_TRUE(registry.remove("pool-1"));
  ASSERT_TRUE(registry.remove("pool-1"));
  ASSERT_TRUE(registry.load());
  EXPECT_TRUE(registry.pools().empty());
}

TEST(Pool_Registry, MissingFileIsEmptyAndMalformedFileFails) {
  Pool_Env env;
  Pool_Registry missing(env.dir() + "/none");
  EXPECT_TRUE(missing.load());
  EXPECT_TRUE(missing.pools().empty());
  const char* bad[] = {"only\ttwo\n", "a\tb\tc\td\te\tf\tg\n", "a\tb\tc\td\te\tnoequals\n",
                       "a%zz\tb\tc\td\te\n", "a%4\tb\tc\td\te\n"};
  for (const char* text : bad) {
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
  ASSERT_TRUE(registry.add(nested));
  ASSERT_TRUE(registry.load());
  struct Case {
    std::string dir;
    const char* uuid;
  } cases[] = {{env.root(), "pool-1"},
               {env.root() + "/x/y", "pool-1"},
               {env.root() + "/deep", "nested"},
               {env.root() + "/deep/x", "nested"},
               {env.root() + "/deeper", "pool-1"},
               {env.root() + "2", nullptr},
               {env.dir(), nullptr}};
  for (const Case& c : cases) {
    const Pool_Record* p = registry.find_root_of(c.dir);
    if (c.uuid) {
      ASSERT_NE(p, nullptr) << c.dir;
      EXPECT_EQ(p->uuid, c.uuid) << c.dir;
    } else {
      EXPECT_EQ(p, nullptr) << c.dir;
    }
  }
}

}  // namespace

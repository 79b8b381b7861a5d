#include "catalog/json_restful_client.h"

#include "runtime/http_head.h"

#include <gtest/gtest.h>

namespace {

TEST(JSON_RESTful_Client, KeepsEndpointAndHeadersAndForgetsThemOnReset) {
  JSON_RESTful_Client c(true);
  EXPECT_TRUE(c.keep_alive());
  EXPECT_EQ("", c.url());
  c.reset("backup.local", 8443, true);
  EXPECT_EQ("https://backup.local:8443", c.url());
  EXPECT_TRUE(c.set_http_head(HTTP_HEAD_X_ACCESS_KEY, "key-1"));
  EXPECT_TRUE(c.set_http_head(HTTP_HEAD_X_ACCESS_KEY, "key-2"));
  ASSERT_NE(nullptr, c.http_head(HTTP_HEAD_X_ACCESS_KEY));
  EXPECT_EQ("key-2", std::string(c.http_head(HTTP_HEAD_X_ACCESS_KEY)->c_str()));
  EXPECT_FALSE(c.set_http_head(HTTP_HEAD_COUNT, "x"));
  EXPECT_FALSE(c.set_http_head(-1, "x"));
  EXPECT_EQ(nullptr, c.http_head(HTTP_HEAD_COUNT));

  // A key meant for one server never goes to the next.
  c.reset("other.local", 80, false);
  EXPECT_EQ("http://other.local:80", c.url());
  EXPECT_EQ(nullptr, c.http_head(HTTP_HEAD_X_ACCESS_KEY));
}

}  // namespace

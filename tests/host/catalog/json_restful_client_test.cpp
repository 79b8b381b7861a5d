#include "catalog/json_restful_client.h"

#include "runtime/http_head.h"

#include <gtest/gtest.h>

namespace {

// Headers are kept by their known ids only; a key meant for one server never goes to the
// next.
TEST(JSON_RESTful_Client, KeepsEndpointAndHeadersAndForgetsThemOnReset) {
  JSON_RESTful_Client c(true);
  c.reset("backup.local", 8443, true);
  EXPECT_EQ("https://backup.local:8443", c.url());
  EXPECT_TRUE(c.set_http_head(HTTP_HEAD_X_ACCESS_KEY, "key-1") && c.set_http_head(HTTP_HEAD_X_ACCESS_KEY, "key-2"));
  ASSERT_NE(nullptr, c.http_head(HTTP_HEAD_X_ACCESS_KEY));
  EXPECT_EQ("key-2", std::string(c.http_head(HTTP_HEAD_X_ACCESS_KEY)->c_str()));
  EXPECT_FALSE(c.set_http_head(HTTP_HEAD_COUNT, "x") || c.set_http_head(-1, "x") || c.http_head(HTTP_HEAD_COUNT));
  c.reset("other.local", 80, false);
  EXPECT_EQ("http://other.local:80", c.url());
  EXPECT_EQ(nullptr, c.http_head(HTTP_HEAD_X_ACCESS_KEY));
}

}  // namespace

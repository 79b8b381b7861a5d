#include "runtime/http_head.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

TEST(Http_Head, NamesByIdAndUnknownIds) {
  EXPECT_STREQ(http_head_string(HTTP_HEAD_X_ACCESS_KEY), "X-Access-Key");
  EXPECT_STREQ(http_head_string(49), "X-Access-Key");
  EXPECT_STREQ(http_head_string(HTTP_HEAD_CONTENT_TYPE), "Content-Type");
  EXPECT_EQ(http_head_string(-1), nullptr);
  EXPECT_EQ(http_head_string(HTTP_HEAD_COUNT), nullptr);
  std::set<std::string> names;
  for (int id = 0; id < HTTP_HEAD_COUNT; ++id) {
    ASSERT_NE(http_head_string(id), nullptr) << id;
    names.insert(http_head_string(id));
  }
  EXPECT_EQ(names.size(), static_cast<size_t>(HTTP_HEAD_COUNT));
}

}  // namespace

#include "json_spirit/extract.h"

#include "json/json_load.h"

#include <gtest/gtest.h>

#include <string>

namespace js = json_spirit;

namespace {

js::Object login_doc() {
  return js::JSON_Load(
             R"({"host":"cloud.local","port":8443,"ssl":true,"big_port":70000,)"
             R"("neg":-1,"wide":4294967301,"arr":[1,2],"sub":{"k":"v"},"num":5})")
      .get_obj();
}

TEST(Extract, ThrowingChainReadsInOrderAndStopsAtTheFirstFailure) {
  const js::Object o = login_doc();
  std::string host;
  unsigned short port = 0;
  bool ssl = false;
  js::extract_or_throw(o)("host", host)("port", port)("ssl", ssl);
  EXPECT_EQ("cloud.local", host);
  EXPECT_EQ(8443, port);
  EXPECT_TRUE(ssl);

  std::string a = "a0", b = "b0", c = "c0";
  EXPECT_THROW(js::extract_or_throw(o)("host", a)("port", b)("sub", c), js::Error);
  EXPECT_EQ("cloud.local", a);  // read before the failure
  EXPECT_EQ("b0", b);           // mistyped: untouched
  EXPECT_EQ("c0", c);           // never read
}

TEST(Extract, LenientChainKeepsTargetsOfMissingOrMistypedMembers) {
  const js::Object o = login_doc();
  std::string host = "default";
  unsigned short port = 443;
  bool ssl = false;
  long missing = 7;
  js::Object sub{{"x", js::Value(1)}};
  js::extract(o)("host", host)("nope", port)("port", ssl)("missing", missing)("host", sub);
  EXPECT_EQ("cloud.local", host);
  EXPECT_EQ(443, port);
  EXPECT_FALSE(ssl);
  EXPECT_EQ(7, missing);
  EXPECT_EQ(1u, sub.count("x"));
  js::extract(o)("sub", sub);
  EXPECT_EQ((js::Object{{"k", js::Value("v")}}), sub);
}

// Narrowing reads keep the low bits, whichever form reads them.
TEST(Extract, NarrowingReadsKeepTheLowBits) {
  const js::Object o = login_doc();
  for (js::Flags flags : {js::Flags(js::FG_THROW), js::Flags(js::FG_NOTHROW)}) {
    unsigned short port = 0;
    int wide = 0;
    js::extract(o).get("big_port", port, flags);
    js::extract(o).get("wide", wide, flags);
    EXPECT_EQ(70000 % 65536, port) << flags;
    EXPECT_EQ(5, wide) << flags;
  }
  // A negative number is not an unsigned one: the strict read refuses it, the lenient
  // 16-bit read takes the low bits of the long it read.
  unsigned long ul = 3;
  EXPECT_THROW(js::extract_or_throw(o)("neg", ul), js::Error);
  js::extract(o)("neg", ul);
  EXPECT_EQ(3u, ul);
  unsigned short us = 0;
  js::extract(o)("neg", us);
  EXPECT_EQ(65535, us);
}

TEST(Extract, PointerReadsAlwaysAssign) {
  const js::Object o = login_doc();
  const std::string dummy = "x";
  const std::string* s = &dummy;
  const js::Array* arr = nullptr;
  const js::Object* sub = nullptr;
  js::extract(o)("num", s)("arr", arr)("sub", sub);
  EXPECT_EQ(nullptr, s);  // a number, not a string
  ASSERT_NE(nullptr, arr);
  EXPECT_EQ(2u, arr->size());
  ASSERT_NE(nullptr, sub);
  EXPECT_EQ(&o.at("sub").get_obj(), sub);

  EXPECT_THROW(js::extract_or_throw(o)("missing", s), js::Error);
  js::extract_or_throw(o)("host", s);
  EXPECT_EQ("cloud.local", *s);

  EXPECT_EQ(nullptr, js::object_get_any_ptr<const js::Array>(o, "sub"));
  EXPECT_EQ(arr, js::object_get_any_ptr<const js::Array>(o, "arr"));
  EXPECT_EQ(s, js::object_get_any_ptr<const std::string>(o, "host"));
}

}  // namespace

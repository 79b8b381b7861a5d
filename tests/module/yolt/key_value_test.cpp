#include "yolt/key_value.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

enum class Color { RED, GREEN, BLUE, UNKNOWN };

const Key2_Value_T<Color> COLORS[] = {
    {"red", 3, Color::RED},
    {"green", 5, Color::GREEN},
    {"greenish", 8, Color::GREEN},
    {"blue", 4, Color::BLUE},
    {nullptr, 0, Color::UNKNOWN},
};

TEST(Key_Value, NameWithLengthNeedsTheWholeName) {
  const struct {
    const char* text;
    size_t len;
    const char* found;  // null: the terminating row
  } cases[] = {
      {"red", 3, "red"},
      {"green", 5, "green"},
      {"greenish", 8, "greenish"},
      {"greenish", 5, "green"},     // a prefix of a longer buffer
      {"green ", 6, nullptr},       // trailing blank
      {"gree", 4, nullptr},         // right characters, other length
      {"Red", 3, nullptr},          // case-sensitive
      {"", 0, nullptr},
      {nullptr, 3, nullptr},
  };
  for (const auto& c : cases) {
    const auto* row = get_key_value_entry(COLORS, c.text, c.len);
    if (c.found == nullptr) {
      EXPECT_EQ(row->key, nullptr) << (c.text ? c.text : "(null)");
      EXPECT_EQ(row->value, Color::UNKNOWN);
    } else {
      ASSERT_NE(row->key, nullptr) << c.text;
      EXPECT_STREQ(row->key, c.found);
    }
  }
}

TEST(Key_Value, NulTerminatedName) {
  EXPECT_STREQ(get_key_value_entry(COLORS, "blue")->key, "blue");
  EXPECT_EQ(get_key_value_entry(COLORS, "blu")->key, nullptr);
  EXPECT_EQ(get_key_value_entry(COLORS, "blue ")->key, nullptr);
  EXPECT_EQ(get_key_value_entry(COLORS, static_cast<const char*>(nullptr))->key, nullptr);
}

TEST(Key_Value, ValueFindsTheFirstRowAndRoundTrips) {
  EXPECT_STREQ(get_key_value_entry(COLORS, Color::GREEN)->key, "green");
  for (const auto* row = COLORS; row->key != nullptr; ++row) {
    const auto* back = get_key_value_entry(COLORS, row->key, std::strlen(row->key));
    EXPECT_EQ(back, row);
    EXPECT_EQ(get_key_value_entry(COLORS, back->value)->value, row->value);
  }
  EXPECT_EQ(get_key_value_entry(COLORS, Color::UNKNOWN)->key, nullptr);
}

TEST(Key_Value, UnsignedTablesTakeValuesWithoutDeductionClash) {
  const Key2_Value_T<unsigned int> ELEMENTS[] = {
      {"item", 4, 4u}, {"instanceId", 10, 8u}, {nullptr, 0, 0u}};
  EXPECT_EQ(get_key_value_entry(ELEMENTS, "instanceId")->value, 8u);
  EXPECT_STREQ(get_key_value_entry(ELEMENTS, 4u)->key, "item");
}

}  // namespace

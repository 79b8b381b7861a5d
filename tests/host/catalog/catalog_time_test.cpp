#include "catalog/catalog_time.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>

namespace {

TEST(Catalog_Time, TimePointIsTheUtcSecondInFourteenDigits) {
  EXPECT_EQ("19700101000000", catalog_timepoint(0));
  EXPECT_EQ("20240501120000", catalog_timepoint(1714564800));
  EXPECT_EQ("20240229235959", catalog_timepoint(1709251199));
  // Year 10000 no longer fits the form.
  EXPECT_EQ("", catalog_timepoint(253402300800));
  EXPECT_EQ("2024-05-01 12:00:00", catalog_time_text(1714564800));
  EXPECT_EQ("-", catalog_time_text(0));
}

TEST(Catalog_Time, ParsesTheThreeFormsAndRefusesTheRest) {
  struct Case {
    const char* text;
    bool ok;
    time_t expected;
  };
  const Case cases[] = {
      {"20240501120000", true, 1714564800},
      {"2024-05-01T12:00:00Z", true, 1714564800},
      {"2024-05-01 12:00:00", true, 1714564800},
      {"19700101000000", true, 0},
      {"20240229000000", true, 1709164800},  // leap day
      {"20000229000000", true, 951782400},   // leap century
      {"20230229000000", false, 0},
      {"19000229000000", false, 0},
      {"20241301000000", false, 0},
      {"20240001000000", false, 0},
      {"20240431000000", false, 0},
      {"20240501240000", false, 0},
      {"20240501120060", false, 0},
      {"2024050112000", false, 0},     // 13 digits
      {"202405011200000", false, 0},   // 15 digits
      {"2024050112000a", false, 0},
      {"2024-05-01T12:00:00", false, 0},   // no zone
      {"2024-05-01 12-00-00", false, 0},
      {"1714564800", false, 0},
      {"", false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    time_t t = 42;
    EXPECT_EQ(c.ok, parse_catalog_timepoint(c.text, t));
    EXPECT_EQ(c.ok ? c.expected : 42, t);
    if (c.ok) {
      EXPECT_TRUE(parse_catalog_timepoint(catalog_timepoint(t), t));
      EXPECT_EQ(c.expected, t);
    }
  }
}

}  // namespace

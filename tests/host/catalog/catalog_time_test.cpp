#include "catalog/catalog_time.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>

namespace {

TEST(Catalog_Time, TimePointIsTheUtcSecondInFourteenDigits) {
  EXPECT_EQ(catalog_timepoint(0) + catalog_timepoint(1709251199), "1970010100000020240229235959");
  EXPECT_EQ("", catalog_timepoint(253402300800));  // year 10000 no longer fits the form
  EXPECT_EQ(catalog_time_text(1714564800) + catalog_time_text(0), "2024-05-01 12:00:00-");
}

TEST(Catalog_Time, ParsesTheThreeFormsAndRefusesTheRest) {
  const std::pair<const char*, time_t> cases[] = {  // -1: refused
      {"20240501120000", 1714564800}, {"2024-05-01T12:00:00Z", 1714564800},
      {"2024-05-01 12:00:00", 1714564800}, {"19700101000000", 0},
      {"20240229000000", 1709164800} /* leap day */, {"20000229000000", 951782400} /* leap century */,
      {"20230229000000", -1}, {"19000229000000", -1}, {"20241301000000", -1}, {"20240001000000", -1},
      {"20240431000000", -1}, {"20240501240000", -1}, {"20240501120060", -1},
      {"2024050112000", -1}, {"202405011200000", -1}, {"2024050112000a", -1},
      {"2024-05-01T12:00:00", -1} /* no zone */, {"2024-05-01 12-00-00", -1}, {"1714564800", -1},
      {"", -1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    time_t t = 42;
    EXPECT_EQ(c.second >= 0, parse_catalog_timepoint(c.first, t));
    EXPECT_EQ(c.second >= 0 ? c.second : 42, t);
    EXPECT_TRUE(c.second < 0 || (parse_catalog_timepoint(catalog_timepoint(t), t) && t == c.second));
  }
}

}  // namespace

#include "catalog/catalog_time.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>

namespace {

// A time point is the UTC second in fourteen digits (none past the year 9999) and reads
// back in any of three forms; impossible dates and other forms are refused.
TEST(Catalog_Time, ParsesTheThreeFormsAndRefusesTheRest) {
  EXPECT_EQ(catalog_timepoint(1709251199) + catalog_timepoint(253402300800), "20240229235959");
  EXPECT_EQ(catalog_time_text(1714564800) + catalog_time_text(0), "2024-05-01 12:00:00-");
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

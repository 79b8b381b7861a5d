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
  const std::pair<const char*, time_t> parsed[] = {
      {"20240501120000", 1714564800}, {"2024-05-01T12:00:00Z", 1714564800},
      {"2024-05-01 12:00:00", 1714564800}, {"19700101000000", 0},
      {"20240229000000", 1709164800} /* leap day */, {"20000229000000", 951782400} /* century */};
  for (const auto& [text, want] : parsed) {
    time_t t = 42;
    EXPECT_TRUE(parse_catalog_timepoint(text, t) && t == want) << text;
    EXPECT_TRUE(parse_catalog_timepoint(catalog_timepoint(t), t) && t == want) << text;
  }
  for (const char* text : {"20230229000000", "19000229000000", "20241301000000", "20240001000000",
                           "20240431000000", "20240501240000", "20240501120060", "2024050112000",
                           "202405011200000", "2024050112000a", "2024-05-01T12:00:00" /* no zone */,
                           "2024-05-01 12-00-00", "1714564800", ""}) {
    time_t t = 42;
    EXPECT_FALSE(parse_catalog_timepoint(text, t) || t != 42) << text;
  }
}

}  // namespace

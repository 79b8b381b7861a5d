#include "yolt/natoi.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>

namespace {

struct Int_Case {
  std::string text;
  int value;
  int error;
  size_t stop;  // where the scan stopped, from the start
};

TEST(Natoi, IntTable) {
  const Int_Case cases[] = {
      {"0", 0, 0, 1},
      {"42", 42, 0, 2},
      {"+7", 7, 0, 2},
      {"-15", -15, 0, 3},
      {"2147483647", INT_MAX, 0, 10},
      {"2147483648", INT_MAX, ERANGE, 9},
      {"-2147483648", INT_MIN, 0, 11},
      {"-2147483649", INT_MAX, ERANGE, 10},
      {"99999999999999999999", INT_MAX, ERANGE, 9},
      {"-", 0, EINVAL, 1},
      {"+", 0, EINVAL, 1},
      {"", 0, EINVAL, 0},
      {"12ab", 12, 0, 2},
      {"ab", 0, EINVAL, 0},
      {" 5", 0, EINVAL, 0},
      {"007", 7, 0, 3},
      {"--1", 0, EINVAL, 1},
  };
  for (const Int_Case& c : cases) {
    const char* stop = nullptr;
    errno = 12345;
    const int v = natoi<int>(c.text.c_str(), c.text.c_str() + c.text.size(), &stop);
    EXPECT_EQ(v, c.value) << c.text;
    EXPECT_EQ(errno, c.error) << c.text;
    EXPECT_EQ(static_cast<size_t>(stop - c.text.c_str()), c.stop) << c.text;
    errno = 12345;
    EXPECT_EQ(natoi<int>(c.text.c_str(), c.text.size()), c.value) << c.text;
    EXPECT_EQ(errno, c.error) << c.text;
  }
}

TEST(Natoi, LongTable) {
  const struct {
    const char* text;
    long value;
    int error;
  } cases[] = {
      {"9223372036854775807", LONG_MAX, 0},
      {"9223372036854775808", LONG_MAX, ERANGE},
      {"-9223372036854775808", LONG_MIN, 0},
      {"21474836480", 21474836480L, 0},
  };
  for (const auto& c : cases) {
    errno = 12345;
    EXPECT_EQ(natoi<long>(c.text, std::strlen(c.text)), c.value) << c.text;
    EXPECT_EQ(errno, c.error) << c.text;
  }
}

TEST(Natoi, StopsAtEndEvenWhenDigitsFollow) {
  const char text[] = "123456";
  const char* stop = nullptr;
  EXPECT_EQ(natoi<int>(text, text + 3, &stop), 123);
  EXPECT_EQ(stop, text + 3);
  EXPECT_EQ(natoi<int>(text, 2), 12);
}

TEST(Natoi, NullAndEmptyRangesReadNothing) {
  const char* stop = reinterpret_cast<const char*>(1);
  errno = 0;
  EXPECT_EQ(natoi<int>(nullptr, nullptr, &stop), 0);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(stop, nullptr);
  errno = 0;
  EXPECT_EQ(natoi<int>(nullptr, 5), 0);
  EXPECT_EQ(errno, EINVAL);
  // A zero-length range at the very end of a buffer: the byte past it is not read.
  const char digits[1] = {'7'};
  errno = 0;
  EXPECT_EQ(natoi<int>(digits + 1, 0), 0);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_FALSE(natoi_traits::pre_cond(""));
  EXPECT_TRUE(natoi_traits::pre_cond(" "));
}

}  // namespace

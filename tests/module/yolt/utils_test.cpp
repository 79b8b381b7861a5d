// The small helpers of yolt: bounded number parsing, name tables, time stamps, formatting
// into strings, scope guards. (Block device checks: the local device look-up tests.)
#include "yolt/key_value.h"
#include "yolt/natoi.h"
#include "yolt/posix_time_format.h"
#include "yolt/scoped_deleter.h"
#include "yolt/string_sprintf.h"
#include "yolt/utils.h"

#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <clocale>
#include <functional>
#include <stdexcept>
#include <vector>

namespace {

TEST(Natoi, Table) {
  // The value, errno and where the scan stopped.
  const struct { std::string text; long value, error, stop; } cases[] = {
      {"42", 42, 0, 2}, {"-2147483648", INT_MIN, 0, 11}, {"2147483648", INT_MAX, ERANGE, 9},
      {"-2147483649", INT_MAX, ERANGE, 10}, {"-", 0, EINVAL, 1}, {"", 0, EINVAL, 0},
      {"12ab", 12, 0, 2}, {" 5", 0, EINVAL, 0}};
  for (const auto& c : cases) {
    const char* stop = nullptr;
    errno = 12345;
    const int value = natoi<int>(c.text.c_str(), c.text.c_str() + c.text.size(), &stop);
    const std::vector<long> seen{value, errno, stop - c.text.c_str()};
    EXPECT_EQ(seen, std::vector<long>({c.value, c.error, c.stop})) << c.text;
  }
  EXPECT_EQ(natoi<long>("9223372036854775807", 19), LONG_MAX);
  EXPECT_EQ(natoi<int>("123456", 3), 123);  // never reads past the range
  errno = 0;
  EXPECT_EQ(natoi<int>(nullptr, 5), 0);
  EXPECT_EQ(errno, EINVAL);
}

enum class Color { RED, GREEN, UNKNOWN };
const Key2_Value_T<Color> COLORS[] = {
    {"red", 3, Color::RED}, {"green", 5, Color::GREEN}, {"greenish", 8, Color::GREEN},
    {nullptr, 0, Color::UNKNOWN}};

TEST(Key_Value, NeedsTheWholeNameAndRoundTrips) {
  // A null key: the terminating row.
  const struct { const char* text; size_t len; const char* found; } cases[] = {
      {"greenish", 5, "green"}, {"greenish", 8, "greenish"}, {"gree", 4, nullptr},
      {"Red", 3, nullptr},      {"", 0, nullptr},             {nullptr, 3, nullptr}};
  for (const auto& c : cases)
    EXPECT_STREQ(get_key_value_entry(COLORS, c.text, c.len)->key, c.found) << c.len;
  EXPECT_EQ(get_key_value_entry(COLORS, "green ")->key, nullptr);
  EXPECT_STREQ(get_key_value_entry(COLORS, Color::GREEN)->key, "green");  // the first row
  EXPECT_EQ(get_key_value_entry(COLORS, Color::UNKNOWN)->key, nullptr);
}

TEST(POSIX_Time_Format, UtcLocalAndTooSmallBuffers) {
  const time_t t = 1714564800;  // 2024-05-01 12:00:00 UTC
  EXPECT_STREQ((POSIX_Time_Format<16, false>(t, "%Y%m%d_%H%M%S_x").c_str()), "");
  {
    test::Scoped_Env zone("TZ", "UTC-2");  // two hours east of UTC
    ::tzset();
    EXPECT_STREQ((POSIX_Time_Format<16, true>(t, "%Y%m%d_%H%M%S").c_str()), "20240501_140000");
  }
  ::tzset();
}

// Appends across the inline room keep earlier contents; long results stay whole; an
// encoding error ("%ls" of a character the "C" locale cannot convert) keeps what was
// appended before and empties the rest.
TEST(String_Sprintf, RoomBoundariesAndErrors) {
  std::setlocale(LC_ALL, "C");
  for (size_t prefix : {0u, 127u, 300u}) {
    for (size_t len : {0u, 126u, 127u, 128u, 129u, 5000u}) {
      std::string s(prefix, 'p');
      const std::string text(len, 'x');
      EXPECT_EQ(string_sprintf_append(s, "_%s", text.c_str()), static_cast<int>(prefix + 1 + len));
      EXPECT_EQ(s, std::string(prefix, 'p') + "_" + text);
      snprintf_t<64, char> path("/dev/disk/by-id/virtio-%s", text.c_str());
      EXPECT_EQ(std::string(path.c_str()), "/dev/disk/by-id/virtio-" + text) << len;
      EXPECT_EQ(path.length(), static_cast<int>(23 + len)) << len;
    }
  }
  EXPECT_STREQ((snprintf_t<8, char>("%s", "12345678").c_str()), "12345678");
  const wchar_t bad_wide[] = {static_cast<wchar_t>(0x100), 0};
  std::string s = "instance";
  EXPECT_LT(string_sprintf_append(s, "_%ls", bad_wide), 0);
  EXPECT_EQ(s, "instance");
  EXPECT_EQ(string_sprintf("abc%ls", bad_wide), "");
  snprintf_t<64, char> bad("Invalid subtype %ls", bad_wide);
  EXPECT_LT(bad.length(), 0);
  EXPECT_STREQ(bad.c_str(), "");
}

// Runs once, at scope end or at the first reset; a move hands the duty over; a throwing
// action is not run again by the destructor.
TEST(Scoped_Deleter, RunsExactlyOnce) {
  for (int resets : {0, 1, 2}) {
    int runs = 0;
    {
      auto guard = make_deleter([&runs] { ++runs; });
      for (int i = 0; i < resets; ++i) guard.reset();
      EXPECT_EQ(resets > 0 ? 1 : 0, runs);
    }
    EXPECT_EQ(1, runs) << resets;
  }
  int runs = 0;
  {
    auto outer = make_deleter(std::function<void()>([&runs] { ++runs; }));
    {
      auto inner = std::move(outer);
      outer.reset();
      EXPECT_EQ(0, runs);
    }
    EXPECT_EQ(1, runs);
  }
  {
    auto guard = make_deleter([&runs] { ++runs; throw std::runtime_error("cleanup failed"); });
    EXPECT_THROW(guard.reset(), std::runtime_error);
  }
  EXPECT_EQ(2, runs);
}

struct Connection {
  int closes = 0;
  void close() { ++closes; }
};

TEST(Member_Deleter, CallsTheMemberInsteadOfDeletingAndSkipsNullOrReleased) {
  Connection conn;  // on the stack: a delete of it would be caught by the sanitizers
  { auto closer = make_deleter(&conn, &Connection::close); }
  { auto none = make_deleter(static_cast<Connection*>(nullptr), &Connection::close); }
  make_deleter(&conn, &Connection::close).release();
  EXPECT_EQ(1, conn.closes);
}

}  // namespace

#include "yolt/scoped_deleter.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

namespace {

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
    { auto inner = std::move(outer); outer.reset(); EXPECT_EQ(0, runs); }
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
  bool close() { return ++closes, false; }
};

TEST(Member_Deleter, CallsTheMemberInsteadOfDeletingAndSkipsNullOrReleased) {
  Connection conn;  // on the stack: a delete of it would be caught by the sanitizers
  { auto closer = make_deleter(&conn, &Connection::close); }
  { auto none = make_deleter(static_cast<Connection*>(nullptr), &Connection::close); }
  { auto released = make_deleter(&conn, &Connection::close); released.release(); }
  EXPECT_EQ(1, conn.closes);
}

}  // namespace

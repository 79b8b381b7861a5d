#include "yolt/scoped_deleter.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <type_traits>
#include <vector>

namespace {

TEST(Scoped_Deleter, RunsOnceAtScopeEndOrAtFirstReset) {
  struct Case {
    const char* name;
    int resets_before_scope_end;
  };
  for (const Case c : {Case{"scope end only", 0}, Case{"reset then scope end", 1},
                       Case{"reset twice then scope end", 2}}) {
    int runs = 0;
    int runs_before_scope_end = -1;
    {
      auto guard = make_deleter([&runs] { ++runs; });
      EXPECT_TRUE(guard.armed()) << c.name;
      for (int i = 0; i < c.resets_before_scope_end; ++i) guard.reset();
      EXPECT_EQ(c.resets_before_scope_end > 0, !guard.armed()) << c.name;
      runs_before_scope_end = runs;
    }
    EXPECT_EQ(c.resets_before_scope_end > 0 ? 1 : 0, runs_before_scope_end) << c.name;
    EXPECT_EQ(1, runs) << c.name;
  }
}

TEST(Scoped_Deleter, GuardsOfOneScopeRunInReverseOrder) {
  std::vector<int> order;
  {
    auto first = make_deleter([&order] { order.push_back(1); });
    auto second = make_deleter([&order] { order.push_back(2); });
    auto third = make_deleter([&order] { order.push_back(3); });
  }
  EXPECT_EQ((std::vector<int>{3, 2, 1}), order);
}

TEST(Scoped_Deleter, MoveHandsOverTheDutyAndCopyIsImpossible) {
  using Guard = decltype(make_deleter(std::function<void()>()));
  static_assert(!std::is_copy_constructible<Guard>::value, "a copy would run the action twice");
  static_assert(!std::is_copy_assignable<Guard>::value, "a copy would run the action twice");

  int runs = 0;
  {
    auto outer = make_deleter(std::function<void()>([&runs] { ++runs; }));
    {
      auto inner = std::move(outer);
      EXPECT_FALSE(outer.armed());
      EXPECT_TRUE(inner.armed());
      outer.reset();
      EXPECT_EQ(0, runs);
    }
    EXPECT_EQ(1, runs);
  }
  EXPECT_EQ(1, runs);
}

TEST(Scoped_Deleter, ThrowingActionIsNotRunAgainByTheDestructor) {
  int runs = 0;
  {
    auto guard = make_deleter([&runs] {
      ++runs;
      throw std::runtime_error("cleanup failed");
    });
    EXPECT_THROW(guard.reset(), std::runtime_error);
    EXPECT_FALSE(guard.armed());
  }
  EXPECT_EQ(1, runs);
}

TEST(Scoped_Deleter, LvalueCallableIsCopiedNotStolen) {
  int runs = 0;
  std::function<void()> action = [&runs] { ++runs; };
  { auto guard = make_deleter(action); }
  ASSERT_TRUE(static_cast<bool>(action));
  action();
  EXPECT_EQ(2, runs);
}

struct Connection {
  static int teardowns;
  int closes = 0;
  bool close() {
    ++closes;
    return false;
  }
  void teardown() { ++teardowns; }
};
int Connection::teardowns = 0;

TEST(Member_Deleter, CallsTheMemberInsteadOfDeletingAndSkipsNull) {
  Connection conn;  // on the stack: a delete of it would be caught by the sanitizers
  {
    auto closer = make_deleter(&conn, &Connection::close);
    EXPECT_EQ(&conn, closer.get());
    EXPECT_EQ(0, conn.closes);
  }
  EXPECT_EQ(1, conn.closes);

  Connection::teardowns = 0;
  { auto down = make_deleter(&conn, &Connection::teardown); }
  EXPECT_EQ(1, Connection::teardowns);

  { auto none = make_deleter(static_cast<Connection*>(nullptr), &Connection::teardown); }
  EXPECT_EQ(1, Connection::teardowns);

  {
    auto released = make_deleter(&conn, &Connection::teardown);
    released.release();
  }
  EXPECT_EQ(1, Connection::teardowns);
}

}  // namespace

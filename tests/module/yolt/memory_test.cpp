#include "yolt/memory.h"

#include <gtest/gtest.h>

#include <boost/range/adaptor/filtered.hpp>
#include <boost/range/adaptor/transformed.hpp>

#include <list>
#include <string>
#include <vector>

namespace {

struct Counted {
  static int constructions;
  int a;
  std::string b;
  Counted() : a(), b() { ++constructions; }
  Counted(int a, std::string b) : a(a), b(std::move(b)) { ++constructions; }
};
int Counted::constructions = 0;

// Allocation without throwing always fails for this type.
struct Unallocatable {
  static int constructions;
  Unallocatable() { ++constructions; }
  static void* operator new(std::size_t, const std::nothrow_t&) noexcept { return nullptr; }
  static void operator delete(void*, const std::nothrow_t&) noexcept {}
  static void operator delete(void*) noexcept {}
};
int Unallocatable::constructions = 0;

TEST(Make_Unique_Nothrow, BuildsFromArgumentsOrValueInitialises) {
  Counted::constructions = 0;
  auto built = make_unique_nothrow<Counted>(7, "seven");
  ASSERT_NE(nullptr, built);
  EXPECT_EQ(7, built->a);
  EXPECT_EQ("seven", built->b);

  auto plain = make_unique_nothrow<unsigned long>();
  ASSERT_NE(nullptr, plain);
  EXPECT_EQ(0ul, *plain);
  EXPECT_EQ(1, Counted::constructions);
}

TEST(Make_Unique_Nothrow, ExhaustedHeapGivesEmptyPointerAndNoObject) {
  Unallocatable::constructions = 0;
  errno = 0;
  auto p = make_unique_nothrow<Unallocatable>();
  EXPECT_EQ(nullptr, p);
  EXPECT_EQ(0, Unallocatable::constructions);
  EXPECT_EQ(0, errno);
}

// A container whose reservations are recorded instead of made.
struct Recording_Container : std::vector<int> {
  std::vector<std::size_t> reserves;
};

}  // namespace

template <>
struct push_back_hint_reserve_helper<Recording_Container> {
  static void reserve(Recording_Container& on, std::size_t hint) {
    on.reserves.push_back(on.size() + hint);
  }
};

namespace {

TEST(Push_Back, ReservesOnlyForANonZeroHintAndAppendsEverything) {
  struct Case {
    std::vector<int> source;
    std::size_t hint;
    std::vector<std::size_t> expected_reserves;
  };
  for (const Case& c : {Case{{1, 2, 3}, 0, {}}, Case{{1, 2, 3}, 3, {5}}, Case{{}, 0, {}},
                        Case{{}, 4, {6}}}) {
    Recording_Container on;
    on.assign({8, 9});
    Recording_Container& result = push_back(on, c.source, c.hint);
    EXPECT_EQ(&on, &result);
    EXPECT_EQ(c.expected_reserves, on.reserves) << "hint " << c.hint;
    std::vector<int> expected{8, 9};
    expected.insert(expected.end(), c.source.begin(), c.source.end());
    EXPECT_EQ(expected, static_cast<const std::vector<int>&>(on));
  }
}

TEST(Push_Back, OneReservationForTheWholeRangeOfAVector) {
  std::vector<int> on{1, 2, 3};
  on.shrink_to_fit();
  const std::vector<int> from{4, 5, 6, 7, 8};
  push_back(on, from, from.size());
  EXPECT_EQ(8u, on.capacity());
  EXPECT_EQ((std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8}), on);
}

TEST(Push_Back, ConvertsEachElementOfALazyRangeOnceAndInOrder) {
  const std::vector<int> raw{3, -1, 4, -1, 5};
  int conversions = 0;
  auto to_text = [&conversions](int v) {
    ++conversions;
    return std::to_string(v);
  };
  std::list<std::string> on{"x"};
  push_back(on, raw | boost::adaptors::transformed(to_text), 0);
  EXPECT_EQ((std::list<std::string>{"x", "3", "-1", "4", "-1", "5"}), on);
  EXPECT_EQ(5, conversions);

  std::vector<std::string> positives;
  auto positive = [](int v) { return v > 0; };
  push_back(positives,
            raw | boost::adaptors::filtered(positive) | boost::adaptors::transformed(to_text), 3);
  EXPECT_EQ((std::vector<std::string>{"3", "4", "5"}), positives);
}

}  // namespace

#include "backup_set/common/backup_set.h"

#include "sample_sets.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace js = json_spirit;

namespace {

using test::parse;

TEST(Backup_Piece, RoundTripsThroughItsJsonForm) {
  const Backup_Piece p = test::sample_piece("vol-data", 100);
  const Backup_Piece back(parse(p.to_json()));
  EXPECT_EQ(p.to_json(), back.to_json());
  EXPECT_EQ(uint64_t{100} << 30, back.size);
  std::string block;
  EXPECT_TRUE(back.token_value("block_set_size", block));
  EXPECT_EQ("131072", block);
}

TEST(Backup_Piece, ReaderNeedsEveryMember) {
  const js::Object good = test::sample_piece("vol-1", 1).to_object();
  for (const char* key : {"path", "size", "extended_attrs", "object"}) {
    SCOPED_TRACE(key);
    js::Object missing = good;
    missing.erase(key);
    EXPECT_THROW(Backup_Piece{missing}, js::Error);
    js::Object mistyped = good;
    mistyped[key] = js::Value(true);
    EXPECT_THROW(Backup_Piece{mistyped}, js::Error);
  }
  js::Object negative = good;
  negative["size"] = js::Value(-1);
  EXPECT_THROW(Backup_Piece{negative}, js::Error);
}

TEST(Backup_Set_Storage, RoundTripsAndNeedsOnlyThePool) {
  js::Object extra;
  extra["code_name"] = js::Value("ashvel");
  const Backup_Set_Storage s("pool-1", 12345, extra);
  EXPECT_EQ(s.to_json(), Backup_Set_Storage(parse(s.to_json())).to_json());

  const Backup_Set_Storage bare(parse("{\"pool_uuid\":\"p\"}"));
  EXPECT_EQ("p", bare.pool_uuid);
  EXPECT_EQ(0u, bare.size);
  EXPECT_THROW(Backup_Set_Storage(parse("{\"size\":1}")), js::Error);
  EXPECT_THROW(Backup_Set_Storage(parse("{\"pool_uuid\":7}")), js::Error);
}

TEST(Backup_Set, PiecesOfOneVolumeInOrder) {
  Backup_Set s;
  Backup_Piece p = test::sample_piece("vol-a", 1);
  p.path = "a1";
  s.add_piece(p);
  p = test::sample_piece("vol-b", 1);
  s.add_piece(p);
  p = test::sample_piece("vol-a", 1);
  p.path = "a2";
  s.add_piece(p);

  const std::vector<Backup_Piece> a = s.get_pieces("vol-a");
  ASSERT_EQ(2u, a.size());
  EXPECT_EQ("a1", a[0].path);
  EXPECT_EQ("a2", a[1].path);
  EXPECT_TRUE(s.get_pieces("vol-c").empty());
  EXPECT_TRUE(s.get_pieces("").empty());
}

TEST(Backup_Set, ReaderSkipsNonObjectElementsAndReplacesContents) {
  Backup_Set s;
  js::Object obj = parse(Backup_Set().to_json());
  js::Array pieces;
  pieces.emplace_back(test::sample_piece("v1", 1).to_object());
  pieces.emplace_back(7);
  pieces.emplace_back(test::sample_piece("v2", 2).to_object());
  obj["pieces"] = pieces;
  s.add_piece(test::sample_piece("old", 1));
  s.add_storage("old-pool", 1, js::Object());
  s.load(obj);
  ASSERT_EQ(2u, s.pieces.size());
  EXPECT_EQ("v1", s.pieces[0].object);
  EXPECT_EQ("v2", s.pieces[1].object);
  EXPECT_TRUE(s.storages.empty());
}

TEST(Backup_Set, PrintsTheChosenFields) {
  Tavro_Backup_Set s = test::sample_set("set-1", "res-1", "i-1", 1714564800);
  s.set_tokens({"uuid", "instance_id", "timepoint", "start_time", "pool_uuid", "pieces"});
  EXPECT_EQ("uuid\tinstance_id\ttimepoint\tstart_time\tpool_uuid\tpieces", s.header());
  std::string row;
  EXPECT_TRUE(s.print(row));
  EXPECT_EQ("set-1\ti-1\t20240501120000\t2024-05-01 12:00:00\tpool-1\t2", row);

  s.set_separator(" | ");
  s.set_tokens({"module", "no_such_field", "name"});
  row.clear();
  EXPECT_FALSE(s.print(row));
  EXPECT_EQ("tavro | ? | nightly", row);
}

}  // namespace

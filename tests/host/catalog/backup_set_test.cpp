#include "backup_set/common/backup_set.h"

#include "sample_sets.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace js = json_spirit;

namespace {

using test::parse;

Tavro_Backup_Set sample() { return test::sample_set("set-1", "res-1", "i-1", 1714564800); }

// A piece needs each member, of its type (a size of at least 0); a storage needs only its
// pool. Their round trips are the whole record's.
TEST(Backup_Piece, NeedsEveryMember) {
  const Backup_Piece p = sample().pieces.at(1);
  std::string block;
  EXPECT_TRUE(p.token_value("block_set_size", block) && block == "65536") << block;
  const std::pair<const char*, js::Value> bad[] = {{"path", js::Value(true)},
      {"size", js::Value(true)}, {"size", js::Value(-1)}, {"extended_attrs", js::Value(true)},
      {"object", js::Value(true)}};
  for (const auto& c : bad) {
    js::Object missing = p.to_object(), mistyped = p.to_object();
    missing.erase(c.first);
    mistyped[c.first] = c.second;
    EXPECT_THROW(Backup_Piece{missing}, js::Error) << c.first;
    EXPECT_THROW(Backup_Piece{mistyped}, js::Error) << c.first;
  }
  EXPECT_EQ(Backup_Set_Storage(parse("{\"pool_uuid\":\"p\"}")).pool_uuid, "p");
  for (const char* text : {R"({"size": 1})", R"({"pool_uuid": 7})"})
    EXPECT_THROW(Backup_Set_Storage(parse(text)), js::Error) << text;
}

// Loading replaces the contents and skips elements that are not objects; the pieces of
// one volume come in their order.
TEST(Backup_Set, ReaderReplacesContentsAndKeepsThePiecesOrder) {
  Backup_Set s;
  js::Object obj = parse(Backup_Set().to_json());
  js::Array pieces;
  for (const char* path : {"a1", "b1", "7", "a2"}) {
    Backup_Piece p = sample().pieces[0];
    std::tie(p.path, p.object) = std::make_tuple(path, std::string("vol-") + path[0]);
    pieces.emplace_back(path[0] == '7' ? js::Value(7) : js::Value(p.to_object()));
  }
  obj["pieces"] = pieces;
  s.add_piece(sample().pieces[1]);
  s.add_storage("old-pool", 1, js::Object());
  s.load(obj);
  std::string seen;
  for (const Backup_Piece& p : s.get_pieces("vol-a")) seen += p.path + " ";
  EXPECT_EQ(seen, "a1 a2 ");
  EXPECT_TRUE(s.pieces.size() == 3 && s.storages.empty() && s.get_pieces("vol-c").empty() &&
              s.get_pieces("").empty());
}

}  // namespace

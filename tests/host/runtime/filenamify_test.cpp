#include "runtime/filenamify.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Filenamify, Table) {
  const struct {
    std::string in;
    char replacement;
    std::string out;
  } cases[] = {
      {"i-4F4A3732", '_', "i-4F4A3732"},
      {"snap/../etc", '_', "snap_.._etc"},
      {"a\\b:c*d?e\"f<g>h|i", '_', "a_b_c_d_e_f_g_h_i"},
      {std::string("nul\0tab\tdel\x7f", 12), '_', "nul_tab_del_"},
      {".", '_', "_"},
      {"..", '_', "__"},
      {"...", '_', "..."},
      {"", '_', "_"},
      {"a/b", '-', "a-b"},
      {"a/b", '/', "a_b"},   // an unsafe replacement is not used
      {"..", '.', "__"},
      {"v\xc3\xa9rif", '_', "v\xc3\xa9rif"},  // UTF-8 kept
  };
  for (const auto& c : cases) {
    std::string out = "stale";
    EXPECT_EQ(&filenamify(c.in, out, c.replacement), &out);
    EXPECT_EQ(out, c.out) << c.in;
  }
}

TEST(Filenamify, LongTextIsCutWithoutSplittingACharacter) {
  std::string out;
  filenamify(std::string(300, 'x'), out, '_');
  EXPECT_EQ(out.size(), FILENAMIFY_MAX_LENGTH);
  // 254 ASCII bytes and a 2-byte character straddling the limit: the character goes.
  filenamify(std::string(254, 'x') + "\xc3\xa9" + "tail", out, '_');
  EXPECT_EQ(out, std::string(254, 'x'));
  filenamify(std::string(300, '\x80'), out, '_');  // not UTF-8: cut by bytes
  EXPECT_EQ(out.size(), FILENAMIFY_MAX_LENGTH);
}

TEST(Filenamify, InputMayBeTheOutput) {
  std::string s = "a/b";
  filenamify(s, s, '_');
  EXPECT_EQ(s, "a_b");
}

}  // namespace

#include "runtime/filenamify.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Each row also runs in place (the input is the output).
TEST(Filenamify, Table) {
  const struct { std::string in; char replacement; std::string out; } cases[] = {
      {"i-4F4A3732", '_', "i-4F4A3732"}, {"snap/../etc", '_', "snap_.._etc"},
      {"a\\b:c*d?e\"f<g>h|i", '_', "a_b_c_d_e_f_g_h_i"},
      {std::string("nul\0tab\tdel\x7f", 12), '_', "nul_tab_del_"},
      {".", '_', "_"}, {"..", '_', "__"}, {"...", '_', "..."}, {"", '_', "_"},
      {"v\xc3\xa9rif", '_', "v\xc3\xa9rif"},  // UTF-8 kept
      {std::string(300, 'x'), '_', std::string(FILENAMIFY_MAX_LENGTH, 'x')},
      // 254 ASCII bytes and a 2-byte character straddling the limit: the character goes.
      {std::string(254, 'x') + "\xc3\xa9tail", '_', std::string(254, 'x')},
      // Not UTF-8: cut as bytes.
      {std::string(300, '\x80'), '_', std::string(FILENAMIFY_MAX_LENGTH, '\x80')}};
  for (const auto& c : cases) {
    std::string out = "stale", same = c.in;
    EXPECT_EQ(&filenamify(c.in, out, c.replacement), &out);
    EXPECT_EQ(out, c.out) << c.in;
    EXPECT_EQ(filenamify(same, same, c.replacement), c.out) << c.in;
  }
}

}  // namespace

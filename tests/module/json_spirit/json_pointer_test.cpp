#include "json_spirit/json_pointer.h"

#include "json/json_load.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace js = json_spirit;

namespace {

// A path that names no array (missing, out of range, not a JSON Pointer, another type)
// leaves the target alone, or under FG_THROW names the path in its error. (Chroot and
// loading into containers have no caller in the module and are left untested.)
TEST(Pextract, ReadsAnArrayOrLeavesTheTarget) {
  js::Value doc = js::JSON_Load(R"({"other":[],"obj":{}})");
  for (const char* path : {"/other", "/missing", "/other/0", "other", "/obj"}) {
    const js::Array sentinel;
    const js::Array* target = &sentinel;
    js::pextract(doc)(path, target);
    EXPECT_EQ(target == &sentinel, std::string(path) != "/other") << path;
    std::string error = "(no throw)";
    try {
      js::pextract(doc).get(path, target, js::FG_THROW);
    } catch (const std::domain_error& e) {
      error = e.what();
    }
    const std::string missing = std::string("JSON Pointer path '") + path + "' not exist in JSON!";
    EXPECT_EQ(error, target == &sentinel ? missing : "(no throw)");
  }
}

}  // namespace

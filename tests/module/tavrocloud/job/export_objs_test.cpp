#include "tavrocloud/job/export_objs.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

struct Recording_Creator : Parser_Creator {
  explicit Recording_Creator(std::string& events) : events(events) {}
  ~Recording_Creator() override { events += "deleted"; }
  int fini() override { return events += "fini ", 0; }
  YAJL_Handler* create() override { return nullptr; }
  void destroy(YAJL_Handler*) override {}
  std::string& events;
};

#define FACTORY(name, creator) \
  {#name, [](Gobble_Fn* s) -> void* { return _make_##name(s); }, _gobble_##name, creator}

// Every factory names its own destroyer, which takes a null pointer; a parser creator's
// destroyer calls fini() before it deletes. The host's use of them is driven end to end
// by the runner's tests.
TEST(Export_Objs, EveryFactoryHandsOutItsDestroyer) {
  const struct {
    const char* name;
    std::function<void*(Gobble_Fn*)> make;
    Gobble_Fn gobble;
    bool creator;
  } factories[] = {
      FACTORY(Tavrocloud_Job_Creator, false),
      FACTORY(Tavrocloud_Backup_Source_Parser_Creator, true),
      FACTORY(Tavrocloud_Backup_Options_Parser_Creator, true),
      FACTORY(Tavrocloud_Restore_Source_Parser_Creator, true),
      FACTORY(Tavrocloud_Restore_Options_Parser_Creator, true),
      FACTORY(Tavrocloud_Instance_Handler, false),
      FACTORY(JSON_RPC_Tavrocloud_List_Handler, false),
      FACTORY(JSON_RPC_Tavrocloud_Login_Handler, false),
  };
  for (const auto& f : factories) {
    SCOPED_TRACE(f.name);
    Gobble_Fn slot = nullptr;
    void* const object = f.make(&slot);
    ASSERT_TRUE(object != nullptr && slot == f.gobble);
    slot(object);
    slot(nullptr);
    std::string events;
    if (f.creator) f.gobble(static_cast<Parser_Creator*>(new Recording_Creator(events)));
    EXPECT_EQ(events, f.creator ? "fini deleted" : "");
  }
}

#undef FACTORY

}  // namespace

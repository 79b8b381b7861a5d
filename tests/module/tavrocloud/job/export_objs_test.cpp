#include "tavrocloud/job/export_objs.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <functional>
#include <new>
#include <string>

// The next nothrow allocation fails when armed: the factories' one allocation.
static std::atomic<bool> fail_next_nothrow{false};

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  if (fail_next_nothrow.exchange(false)) return nullptr;
  try {
    return ::operator new(size);
  } catch (...) {
    return nullptr;
  }
}

void operator delete(void* p, const std::nothrow_t&) noexcept { ::operator delete(p); }

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

// Every factory names its destroyer, also without a slot and when its allocation fails
// (then with ENOMEM); a parser creator's destroyer calls fini() before it deletes.
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
    ASSERT_NE(nullptr, object);
    EXPECT_EQ(f.gobble, slot);
    slot(object);
    slot(nullptr);
    void* const unslotted = f.make(nullptr);
    ASSERT_NE(nullptr, unslotted);
    f.gobble(unslotted);

    slot = nullptr;
    errno = 0;
    fail_next_nothrow = true;
    EXPECT_EQ(nullptr, f.make(&slot));
    EXPECT_EQ(ENOMEM, errno);
    EXPECT_EQ(f.gobble, slot);
    fail_next_nothrow = false;
    if (!f.creator) continue;
    std::string events;
    f.gobble(static_cast<Parser_Creator*>(new Recording_Creator(events)));
    EXPECT_EQ(events, "fini deleted");
  }
}

#undef FACTORY

}  // namespace

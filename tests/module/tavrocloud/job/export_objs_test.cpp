#include "tavrocloud/job/export_objs.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <functional>
#include <new>
#include <string>
#include <typeinfo>
#include <vector>

#include "job/controllable_job_t.h"
#include "job_def/job_json_parser.h"
#include "tavrocloud/job/backup_executor.h"
#include "tavrocloud/job/restore_executor.h"
#include "tavrocloud/job/job_parameters.h"

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

enum Kind { CREATOR, JOB_CREATOR, RPC_HANDLER, AGENT_HANDLER };

struct Factory {
  const char* name;
  std::function<void*(Gobble_Fn*)> make;
  Gobble_Fn gobble;
  Kind kind;
};

#define FACTORY(name, kind) {#name, [](Gobble_Fn* s) -> void* { return _make_##name(s); }, _gobble_##name, kind}

const std::vector<Factory>& factories() {
  static const std::vector<Factory> table = {
      FACTORY(Tavrocloud_Job_Creator, JOB_CREATOR),
      FACTORY(Tavrocloud_Backup_Source_Parser_Creator, CREATOR),
      FACTORY(Tavrocloud_Backup_Options_Parser_Creator, CREATOR),
      FACTORY(Tavrocloud_Restore_Source_Parser_Creator, CREATOR),
      FACTORY(Tavrocloud_Restore_Options_Parser_Creator, CREATOR),
      FACTORY(Tavrocloud_Instance_Handler, AGENT_HANDLER),
      FACTORY(JSON_RPC_Tavrocloud_List_Handler, RPC_HANDLER),
      FACTORY(JSON_RPC_Tavrocloud_Login_Handler, RPC_HANDLER),
  };
  return table;
}

#undef FACTORY

// What a destroyer did to the object it was given.
struct Events {
  bool fini = false;
  bool deleted = false;
};

struct Recording_Creator : Parser_Creator {
  explicit Recording_Creator(Events& e) : events(e) {}
  ~Recording_Creator() override { events.deleted = true; }
  int fini() override { return events.fini = true, 0; }
  YAJL_Handler* create() override { return nullptr; }
  void destroy(YAJL_Handler*) override {}
  Events& events;
};

struct Recording_Job_Creator : Job_Creator {
  explicit Recording_Job_Creator(Events& e) : events(e) {}
  ~Recording_Job_Creator() override { events.deleted = true; }
  int fini() override { return events.fini = true, 0; }
  Job_var create(Job_Definition_var) override { return Job_var(); }
  Events& events;
};

struct Recording_RPC_Handler : JSON_RPC_Handler {
  explicit Recording_RPC_Handler(Events& e) : events(e) {}
  ~Recording_RPC_Handler() override { events.deleted = true; }
  int fini() override { return events.fini = true, 0; }
  int handle_object_i(JSON_RPC_Channel_ptr, JSON_RPC_Object_ptr) override { return -1; }
  Events& events;
};

struct Recording_Agent_Handler : Instance_Handler {
  explicit Recording_Agent_Handler(Events& e) : Instance_Handler("test"), events(e) {}
  ~Recording_Agent_Handler() override { events.deleted = true; }
  int fini() override { return events.fini = true, 0; }
  int probe_instances(instances_type&) override { return 0; }
  std::string& get_state(const char*, std::string& s) override { return s; }
  int logon(const char*, const char*, const char*, const json_spirit::Object*) override {
    return 0;
  }
  Events& events;
};

// An object of the interface the destroyer expects, recording into `events`.
void* recording_object(Kind kind, Events& events) {
  switch (kind) {
    case CREATOR: return static_cast<Parser_Creator*>(new Recording_Creator(events));
    case JOB_CREATOR: return static_cast<Job_Creator*>(new Recording_Job_Creator(events));
    case RPC_HANDLER: return static_cast<JSON_RPC_Handler*>(new Recording_RPC_Handler(events));
    default: return static_cast<Instance_Handler*>(new Recording_Agent_Handler(events));
  }
}

TEST(Export_Objs, EveryFactoryHandsOutItsDestroyerAlsoWhenAllocationFails) {
  for (const Factory& f : factories()) {
    SCOPED_TRACE(f.name);
    Gobble_Fn slot = nullptr;
    void* const object = f.make(&slot);
    ASSERT_NE(nullptr, object);
    EXPECT_EQ(f.gobble, slot);
    slot(object);
    slot(nullptr);

    // No slot: the object is made all the same.
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
  }
}

TEST(Export_Objs, CreatorDestroyersCallFiniFirstTheOthersOnlyDelete) {
  for (const Factory& f : factories()) {
    SCOPED_TRACE(f.name);
    Events events;
    f.gobble(recording_object(f.kind, events));
    EXPECT_TRUE(events.deleted);
    EXPECT_EQ(f.kind == CREATOR, events.fini);
  }
}

// Backup and restore share one parser class per document kind; the job decides the kind.
TEST(Export_Objs, BackupAndRestoreFactoriesShareTheParserClasses) {
  Gobble_Fn g[4] = {};
  Parser_Creator* const made[4] = {_make_Tavrocloud_Backup_Source_Parser_Creator(&g[0]),
                                   _make_Tavrocloud_Restore_Source_Parser_Creator(&g[1]),
                                   _make_Tavrocloud_Backup_Options_Parser_Creator(&g[2]),
                                   _make_Tavrocloud_Restore_Options_Parser_Creator(&g[3])};
  EXPECT_EQ(typeid(*made[0]), typeid(*made[1]));
  EXPECT_EQ(typeid(*made[2]), typeid(*made[3]));
  EXPECT_NE(typeid(*made[0]), typeid(*made[2]));
  YAJL_Handler* const source = made[1]->create();
  EXPECT_NE(nullptr, dynamic_cast<Job_Source_Parser<tavrocloud::Job_Parameters>*>(source));
  made[1]->destroy(source);
  for (int i = 0; i < 4; ++i) g[i](made[i]);
}

}  // namespace

// The job creator made through the factory makes the job of the definition's kind.
TEST(Export_Objs, JobCreatorMakesABackupOrARestoreJobByType) {
  Gobble_Fn gobble = nullptr;
  Job_Creator* const creator = _make_Tavrocloud_Job_Creator(&gobble);
  ASSERT_NE(nullptr, creator);
  const struct {
    Job_Definition_Type type;
    const std::type_info* job;  // null: no job
  } cases[] = {
      {JOB_DEFINITION_BACKUP, &typeid(Controllable_Job_T<tavrocloud::Backup_Executor>)},
      {JOB_DEFINITION_RESTORE, &typeid(Controllable_Job_T<tavrocloud::Restore_Executor>)},
      {JOB_DEFINITION_STANDBY, nullptr},
  };
  for (const auto& c : cases) {
    Job_Definition_var def(new Job_Definition);
    def->set_type(c.type);
    const Job_var job = creator->create(def);
    ASSERT_EQ(c.job == nullptr, job.get() == nullptr) << c.type;
    if (c.job != nullptr) {
      EXPECT_EQ(*c.job, typeid(*job.get()));
    }
  }
  gobble(creator);
}

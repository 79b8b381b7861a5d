#include "tavrocloud/job/export_objs.h"

#include <cerrno>
#include <new>

#include "job/controllable_job_t.h"
#include "job/default_job_creator_t.h"
#include "job/object_creator_impl_t.h"
#include "job_def/job_json_parser.h"
#include "tavrocloud/instance_handler/tavrocloud_instance_handler.h"
#include "tavrocloud/job/backup_executor.h"
#include "tavrocloud/job/job_parameters.h"
#include "tavrocloud/job/restore_executor.h"
#include "tavrocloud/websvcs_agent/tavrocloud_list_handler.h"
#include "tavrocloud/websvcs_agent/tavrocloud_login_handler.h"

namespace {

typedef Object_Creator_Impl_T<Parser_Creator, Job_Source_Parser<tavrocloud::Job_Parameters>>
    Source_Parser_Creator;
typedef Object_Creator_Impl_T<Parser_Creator, Job_JSON_Parser<tavrocloud::Job_Parameters>>
    Options_Parser_Creator;
typedef Default_Job_Creator_T<Controllable_Job_T<tavrocloud::Backup_Executor>,
                              Controllable_Job_T<tavrocloud::Restore_Executor>>
    Tavrocloud_Job_Creator;

// The factory protocol: the destroyer first, then a non-throwing allocation of Object,
// handed out as Interface.
template <typename Interface, typename Object>
Interface* make(Gobble_Fn* gobble, Gobble_Fn destroyer) noexcept {
  if (gobble != nullptr) *gobble = destroyer;
  try {
    Object* const object = new (std::nothrow) Object();
    if (object == nullptr) errno = ENOMEM;
    return object;
  } catch (...) {
    errno = ENOMEM;
    return nullptr;
  }
}

template <typename Interface>
void gobble(void* p) noexcept {
  delete static_cast<Interface*>(p);
}

void gobble_creator(void* p) noexcept {
  Parser_Creator* const creator = static_cast<Parser_Creator*>(p);
  if (creator == nullptr) return;
  creator->fini();
  delete creator;
}

}  // namespace

Job_Creator* _make_Tavrocloud_Job_Creator(Gobble_Fn* slot) {
  return make<Job_Creator, Tavrocloud_Job_Creator>(slot, _gobble_Tavrocloud_Job_Creator);
}
void _gobble_Tavrocloud_Job_Creator(void* p) { gobble<Job_Creator>(p); }

Parser_Creator* _make_Tavrocloud_Backup_Source_Parser_Creator(Gobble_Fn* slot) {
  return make<Parser_Creator, Source_Parser_Creator>(slot, _gobble_Tavrocloud_Backup_Source_Parser_Creator);
}
void _gobble_Tavrocloud_Backup_Source_Parser_Creator(void* p) { gobble_creator(p); }

Parser_Creator* _make_Tavrocloud_Backup_Options_Parser_Creator(Gobble_Fn* slot) {
  return make<Parser_Creator, Options_Parser_Creator>(slot, _gobble_Tavrocloud_Backup_Options_Parser_Creator);
}
void _gobble_Tavrocloud_Backup_Options_Parser_Creator(void* p) { gobble_creator(p); }

Parser_Creator* _make_Tavrocloud_Restore_Source_Parser_Creator(Gobble_Fn* slot) {
  return make<Parser_Creator, Source_Parser_Creator>(slot, _gobble_Tavrocloud_Restore_Source_Parser_Creator);
}
void _gobble_Tavrocloud_Restore_Source_Parser_Creator(void* p) { gobble_creator(p); }

Parser_Creator* _make_Tavrocloud_Restore_Options_Parser_Creator(Gobble_Fn* slot) {
  return make<Parser_Creator, Options_Parser_Creator>(slot, _gobble_Tavrocloud_Restore_Options_Parser_Creator);
}
void _gobble_Tavrocloud_Restore_Options_Parser_Creator(void* p) { gobble_creator(p); }

Instance_Handler* _make_Tavrocloud_Instance_Handler(Gobble_Fn* slot) {
  return make<Instance_Handler, Tavrocloud_Instance_Handler>(slot, _gobble_Tavrocloud_Instance_Handler);
}
void _gobble_Tavrocloud_Instance_Handler(void* p) { gobble<Instance_Handler>(p); }

JSON_RPC_Handler* _make_JSON_RPC_Tavrocloud_List_Handler(Gobble_Fn* slot) {
  return make<JSON_RPC_Handler, tavrocloud::JSON_RPC_Tavrocloud_List_Handler>(
      slot, _gobble_JSON_RPC_Tavrocloud_List_Handler);
}
void _gobble_JSON_RPC_Tavrocloud_List_Handler(void* p) { gobble<JSON_RPC_Handler>(p); }

JSON_RPC_Handler* _make_JSON_RPC_Tavrocloud_Login_Handler(Gobble_Fn* slot) {
  return make<JSON_RPC_Handler, tavrocloud::JSON_RPC_Tavrocloud_Login_Handler>(
      slot, _gobble_JSON_RPC_Tavrocloud_Login_Handler);
}
void _gobble_JSON_RPC_Tavrocloud_Login_Handler(void* p) { gobble<JSON_RPC_Handler>(p); }

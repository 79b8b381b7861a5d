// The module's entry points: the host loads libtavrocloud.so and finds its objects only
// through these factories, resolved by name. Each factory stores its destroyer into the
// host's slot (when the slot is not null) before it allocates, then makes the object
// without throwing; null with errno ENOMEM when it cannot. The host destroys each object
// through the destroyer its factory handed out; a null object does nothing.
//
// These names, and nothing else, are exported (export_objs.map is the linker's list).
#ifndef TAVROCLOUD_JOB_EXPORT_OBJS_H
#define TAVROCLOUD_JOB_EXPORT_OBJS_H

#include "agent/instance_handler.h"
#include "job_engine/job_creator.h"
#include "job_engine/object_creator.h"
#include "job_engine/yajl_handler.h"
#include "jsonrpc/json_rpc_handler.h"

#define TAVROCLOUD_EXPORT extern "C" __attribute__((visibility("default")))

// The host's destroyer slot: where a factory puts the function that destroys its object.
typedef void (*Gobble_Fn)(void*);

typedef Object_Creator_T<YAJL_Handler> Parser_Creator;

// Parser creators: each makes a fresh parser of one job document kind per document. The
// backup and restore factories make objects of one class per document kind; the kind of
// job is decided when the job is made. Their destroyers call fini() before deleting.
TAVROCLOUD_EXPORT Parser_Creator* _make_Tavrocloud_Backup_Source_Parser_Creator(Gobble_Fn* gobble);
TAVROCLOUD_EXPORT void _gobble_Tavrocloud_Backup_Source_Parser_Creator(void* p);
TAVROCLOUD_EXPORT Parser_Creator* _make_Tavrocloud_Backup_Options_Parser_Creator(Gobble_Fn* gobble);
TAVROCLOUD_EXPORT void _gobble_Tavrocloud_Backup_Options_Parser_Creator(void* p);
TAVROCLOUD_EXPORT Parser_Creator* _make_Tavrocloud_Restore_Source_Parser_Creator(Gobble_Fn* gobble);
TAVROCLOUD_EXPORT void _gobble_Tavrocloud_Restore_Source_Parser_Creator(void* p);
TAVROCLOUD_EXPORT Parser_Creator* _make_Tavrocloud_Restore_Options_Parser_Creator(Gobble_Fn* gobble);
TAVROCLOUD_EXPORT void _gobble_Tavrocloud_Restore_Options_Parser_Creator(void* p);

// The agent's proxy instance handler.
TAVROCLOUD_EXPORT Instance_Handler* _make_Tavrocloud_Instance_Handler(Gobble_Fn* gobble);
TAVROCLOUD_EXPORT void _gobble_Tavrocloud_Instance_Handler(void* p);

// The console's JSON-RPC handlers.
TAVROCLOUD_EXPORT JSON_RPC_Handler* _make_JSON_RPC_Tavrocloud_List_Handler(Gobble_Fn* gobble);
TAVROCLOUD_EXPORT void _gobble_JSON_RPC_Tavrocloud_List_Handler(void* p);
TAVROCLOUD_EXPORT JSON_RPC_Handler* _make_JSON_RPC_Tavrocloud_Login_Handler(Gobble_Fn* gobble);
TAVROCLOUD_EXPORT void _gobble_JSON_RPC_Tavrocloud_Login_Handler(void* p);

// The job creator: a backup job for a backup definition, a restore job for a restore one.
TAVROCLOUD_EXPORT Job_Creator* _make_Tavrocloud_Job_Creator(Gobble_Fn* gobble);
TAVROCLOUD_EXPORT void _gobble_Tavrocloud_Job_Creator(void* p);

#endif  // TAVROCLOUD_JOB_EXPORT_OBJS_H

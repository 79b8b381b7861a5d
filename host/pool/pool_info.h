// Looking up a storage pool and applying its settings to a job's pool options. The
// backup executor looks up its job's target pool, the restore handler the pool of each
// backup set; both then adapt their options with set_options_by_pool before they
// connect (pool/client_io.h). The answers come from the host's pool registry
// (pool/pool_registry.h).
#ifndef POOL_POOL_INFO_H
#define POOL_POOL_INFO_H

#include "client_io/client_io_base.h"

#include <cstddef>
#include <string>
#include <vector>

class JSON_RESTful_Client;

// Fills `info` with the registered pool whose uuid or name is `pool_id`; true on
// success, false (logged, and the reason in `error` when given) when there is no such
// pool or it cannot be used:
// - unless `allow_offline`, the pool's directory must exist; while it does not, the
//   lookup is retried for up to `max_seconds_retry` seconds (a mount may come late);
// - `device_id`, when given and not empty, must be one of the pool's devices when
//   `require_device` holds; otherwise info.device_exists says whether it is;
// - `host_uuid`, when given, must be the pool's host;
// - `device_ids`, when given, receives the pool's devices;
// - `verbose` logs the pool found at debug priority.
bool get_pool_info(const char* pool_id, const char* device_id, Pool_Info& info,
                   bool allow_offline, size_t max_seconds_retry, std::string* error,
                   bool require_device, const char* host_uuid,
                   std::vector<std::string>* device_ids, bool verbose);

// The same lookup for a caller that holds a catalog connection (the restore). The pool
// registry of this host is the authority for its pools, so the answer is the registry's
// and `client` and `timeout_seconds` (-1: none) are not needed for it.
bool get_pool_info(JSON_RESTful_Client& client, const char* pool_uuid, const char* device_id,
                   Pool_Info& info, bool allow_offline, std::string* error,
                   size_t max_seconds_retry, int timeout_seconds, bool require_device,
                   const char* host_uuid, std::vector<std::string>* device_ids, bool verbose);

// Adapts `opts` to `pool`: its preferred source address and node addresses, and its
// extra attributes as extra options where the options do not already name them (the
// access-key header set from the host's identity is never replaced). Refuses (false,
// logged) a pool it cannot honour: one that demands encryption, or S3 storage, since
// this host writes plain directories and must not store plain text where ciphertext
// was promised; also options that ask for encryption themselves.
bool set_options_by_pool(Client_IO_Base::Options& opts, const Pool_Info& pool);

#endif  // POOL_POOL_INFO_H

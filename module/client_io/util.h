// Helpers with which the backup and restore executors fill the storage-pool options of a
// job: from the job definition (retry, resumption, rate limits, dedup), from the host's
// identity (the access-key header) and with the data-to-target access mode. The pool's
// own settings come afterwards through set_options_by_pool (pool/pool_info.h).
#ifndef CLIENT_IO_UTIL_H
#define CLIENT_IO_UTIL_H

#include "client_io/client_io_base.h"
#include "identity/host_manager.h"
#include "runtime/http_head.h"

#include <cstddef>
#include <string>

// Stores `value` as the extra option named by http_head_string(head); nothing when the
// host knows no name for `head`.
inline void set_http_head_to_options(Client_IO_Base::Options& opts, int head,
                                     const std::string& value) {
  const char* name = http_head_string(head);
  if (name != nullptr) opts.set_extra_option(name, value);
}

// Puts `key` into the options as the access-key header.
inline void set_access_key_to_options(Client_IO_Base::Options& opts, const std::string& key) {
  set_http_head_to_options(opts, HTTP_HEAD_X_ACCESS_KEY, key);
}

// Copies the definition's retry time, resumption buffer, rate limits (split over
// `channels` transfers) and server-side dedup flag into the options.
template <typename Definition>
inline void set_options_by_job_def(Client_IO_Base::Options& opts, const Definition& def,
                                   size_t channels) {
  opts.max_seconds_retry = def.max_seconds_retry();
  opts.resumption_buffer_size = def.resumption_buffer_size();
  opts.rate_limits = def.rate_limits();
  set_rate_limits_by_channels(opts.rate_limits, channels);
  opts.server_side_dedup = def.server_side_dedup();
}

// The access-key header of this host: the node access key on the host that runs the
// backup daemon, the host's own access key elsewhere.
inline void set_options_by_host(Client_IO_Base::Options& opts) {
  const Host_Manager& host = Host_Manager::instance();
  set_access_key_to_options(opts, host.on_backupd() ? host.node_access_key() : host.access_key());
}

// Pool transfers of a job go through the pool's RPC access path.
inline void set_d2t_access_mode(Client_IO_Base::Options& opts) {
  opts.d2t_access_mode = Client_IO_Base::D2T_Access_RPC;
}

#endif  // CLIENT_IO_UTIL_H

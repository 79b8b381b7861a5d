// The records with which a job prepares its connection to a storage pool: the
// input/output options, the pool description, the rate-limit table and the options of a
// local block file. The backup and restore executors fill them; the host's pool
// component (pool/client_io.h) reads them when it connects and opens files.
#ifndef CLIENT_IO_CLIENT_IO_BASE_H
#define CLIENT_IO_CLIENT_IO_BASE_H

#include "runtime/secure_memset.h"

#include <ace/os_include/sys/os_types.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

// Codec of the blocks of a pool image. AUTO lets the pool choose (a fast zstd level).
enum Compression_Method {
  COMPR_NONE = 0,
  COMPR_AUTO = 1,
  COMPR_LZOP = 2,
  COMPR_ZSTD = 3,
  COMPR_MAX = 4
};

enum Encryption_Algorithm {
  ENCRYPT_UNKNOWN = -1,
  ENCRYPT_NONE = 0,
  ENCRYPT_AES_128_CBC = 1,
  ENCRYPT_AES_192_CBC = 2,
  ENCRYPT_AES_256_CBC = 3,
  ENCRYPT_MAX = 4
};

// One bandwidth limit: from `start_time` to `end_time` (seconds after local midnight;
// an end before the start wraps past midnight) at most `max_bytes_per_second` bytes per
// second, 0 meaning no limit.
struct Rate_Control_Entry {
  unsigned int start_time = 0;
  unsigned int end_time = 0;
  size_t max_bytes_per_second = 0;
};

// Limits for writing to the pool (dest) and for reading from it (src); the first entry
// whose window holds the current time applies.
struct Rate_Limits {
  std::vector<Rate_Control_Entry> dest_rate_limits;
  std::vector<Rate_Control_Entry> src_rate_limits;

  // Names of the two lists where a job definition stores them ("dest", "src").
  static const std::string dest_key;
  static const std::string src_key;
};

// Splits every limit evenly over `channels` parallel transfers (0 counts as 1); a
// non-zero limit never drops to 0 (which would mean unlimited).
void set_rate_limits_by_channels(Rate_Limits& limits, size_t channels);

class Client_IO_Base {
 public:
  enum D2T_Access_Mode { D2T_Access_Auto = 0, D2T_Access_LAN_Base = 1, D2T_Access_RPC = 2 };

  // Modes of Client_IO::open.
  enum Open_Mode { MODE_READ = 1, MODE_WRITE = 2 };

  struct Options {
    bool overwrite = false;
    int socket_timeout_seconds = 0;
    size_t max_seconds_retry = 0;
    size_t resumption_buffer_size = 0;
    bool forward = false;
    Rate_Limits rate_limits;
    Compression_Method compression_method = COMPR_NONE;
    int compression_level = 0;
    Encryption_Algorithm encryption_algorithm = ENCRYPT_NONE;
    unsigned char key[64] = {};
    size_t key_len = 0;
    unsigned char iv[16] = {};
    size_t iv_len = 0;
    size_t dedup_chunk_size = 0;
    size_t dedup_max_memory_usage = 0;
    bool server_side_dedup = false;
    bool flush_after_write = false;
    std::string access_key;
    std::string secret_key;
    std::string preferred_source_address;
    D2T_Access_Mode d2t_access_mode = D2T_Access_Auto;
    std::map<unsigned int, std::string> node_addresses;
    std::map<std::string, std::string> extra_options;
    std::vector<std::string> scan_initiators;

    Options() = default;
    Options(const Options&) = default;
    Options& operator=(const Options&) = default;
    Options(Options&&) = default;
    Options& operator=(Options&&) = default;
    // Wipes the key material and the secret key.
    ~Options() {
      secure_memset(key, 0, sizeof key);
      secure_memset(iv, 0, sizeof iv);
      if (!secret_key.empty()) secure_memset(&secret_key[0], 0, secret_key.size());
    }

    // Stores `value` under `name`, replacing an earlier value of that name.
    void set_extra_option(const std::string& name, const std::string& value) {
      extra_options[name] = value;
    }

    // The value stored under `name`, or null.
    const std::string* extra_option(const std::string& name) const {
      auto it = extra_options.find(name);
      return it == extra_options.end() ? nullptr : &it->second;
    }
  };
};

// A storage pool as the host's registry describes it (pool/pool_info.h fills it).
struct Pool_Info {
  std::string uuid;
  std::string name;
  std::string host_uuid;
  std::string url;
  bool device_exists = true;
  bool multidevice = false;
  bool server_side_encryption = false;
  Encryption_Algorithm cipher = ENCRYPT_NONE;
  std::string key;
  std::string iv;
  std::string preferred_source_address;
  std::string tenant_access_key;
  std::map<std::string, std::string> ext_attrs;
  std::map<unsigned int, std::string> node_addrs;
  std::string dedup_backend_type;
  std::map<std::string, std::string> default_s3;
  bool s3_enabled = false;
};

// Options of a local block file (pool/fixed_block_file.h).
struct File_Options {
  enum { DISCARD_CACHE_NONE = 0, DISCARD_CACHE_ON_CLOSE = -1, DISCARD_CACHE_DIRECT_IO = -2 };
  enum { SYNC_CLOSE_NONE = 0, SYNC_CLOSE_ASYNC = 1, SYNC_CLOSE_SYNC = 2 };
  enum { SYNC_NONE = 0, SYNC_ALL = -1 };

  size_t block_size = 0;
  // DISCARD_CACHE_* or, when positive, drop the page cache behind every that many bytes.
  ACE_OFF_T discard_cache = DISCARD_CACHE_NONE;
  bool read_ahead = false;
  int sync_close = SYNC_CLOSE_NONE;
  // SYNC_NONE, SYNC_ALL (sync every write) or, when positive, sync every that many bytes.
  ACE_OFF_T sync = SYNC_NONE;

  File_Options() = default;
  explicit File_Options(size_t block) : block_size(block) {}
};

#endif  // CLIENT_IO_CLIENT_IO_BASE_H

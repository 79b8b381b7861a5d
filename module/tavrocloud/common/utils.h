// The cloud client's shared vocabulary: the resource states and network words of the
// query API with their translation tables, the version gate of temporary snapshots, the
// choice of the next device name on the agent instance, the conversion of JSON arrays
// into records, and the loading of a stored cloud account. Used by the response parsers,
// the cloud client, the jobs and the console.
#ifndef TAVROCLOUD_COMMON_UTILS_H
#define TAVROCLOUD_COMMON_UTILS_H

#include <boost/range/adaptor/transformed.hpp>
#include <cstddef>
#include <set>
#include <stdexcept>
#include <string>

#include "json/value.h"
#include "json_spirit/filter.h"
#include "yolt/key_value.h"
#include "yolt/memory.h"
#include "yolt/secure_string.h"

namespace tavrocloud {

struct Login;

// State of a cloud resource as the query API words it. COMPLETE (instance backups) and
// COMPLETED (snapshots) are distinct states.
enum Status {
  UNKNOWN = 0,
  ATTACHING = 1,
  ATTACHED = 2,
  AVAILABLE = 3,
  CREATING = 4,
  DETACHING = 5,
  DETACHED = 6,
  DELETING = 7,
  DELETED = 8,
  PENDING = 9,
  RUNNING = 10,
  IN_USE = 11,
  SHUTTING_DOWN = 12,
  TERMINATED = 13,
  STOPPING = 14,
  STOPPED = 15,
  COMPLETE = 16,
  COMPLETED = 17,
  ERROR = 18
};

// Role of a network interface of an instance.
enum Network_Interface_Type { UNKNOWN_TYPE = 0, MAIN = 1, EXTEND = 2 };

// How a restored network interface gets its address. Scoped, because its UNKNOWN would
// otherwise clash with the Status one.
enum class Net_Operation { UNKNOWN = 0, AUTO = 1, RESERVE = 2, SPECIFY = 3 };

// The tables, each ended by a row {nullptr, 0, 0}.
extern const Key2_Value_T<Status> STATUS_TABLE[];
extern const Key2_Value_T<Network_Interface_Type> NET_INTERFACE_TABLE[];
extern const Key2_Value_T<Net_Operation> NET_OP_TABLE[];

// The value whose word is exactly the `len` characters at `name` (case-sensitive, no
// trimming; the text need not be NUL-terminated); the enumeration's 0 for an unknown word
// or a null pointer.
Status name_to_status(const char* name, size_t len);
Network_Interface_Type str_to_net_interface(const char* name, size_t len);
Net_Operation str_to_operation(const char* name, size_t len);

// The word of a value; null for the 0 value and for values outside the table, except
// net_interface_to_str, which gives "" there.
const char* status_to_name(Status status);
const char* net_interface_to_str(Network_Interface_Type type);
const char* operation_to_str(Net_Operation op);

// True when a cloud of version `version` offers temporary snapshots (9.8 or later). A
// leading non-digit (a "V" or "v" prefix) is skipped; an empty text is false.
bool support_tmp_snapshot(const std::string& version);

// The device name for the next volume attached to an instance whose attached devices
// are `devices`: the greatest name with its last letter advanced ("vdb" -> "vdc").
// Returns false, logging at error priority, when the greatest name is empty, does not end
// in a letter or ends in 'z'/'Z'; then `device` holds that greatest name. An empty set
// returns false silently with `device` untouched.
bool build_new_device(const std::set<std::string>& devices, std::string& device);

// Appends to `out` one element per object member of `arr`, in order, each filled by the
// element type's `bool operator<<(const json_spirit::Object&)`; other members are
// skipped. Throws std::domain_error("Failed to load elem content from JSON") at the first
// element that does not load; the elements appended before it stay in `out`.
template <typename V>
void trans_array_to_throw(V& out, const json_spirit::Array& arr) {
  using Element = typename V::value_type;
  auto load = [](const json_spirit::Object& obj) {
    Element element;
    if (!(element << obj)) throw std::domain_error("Failed to load elem content from JSON");
    return element;
  };
  push_back(out, arr | json_spirit::get_obj | boost::adaptors::transformed(load), arr.size());
}

// Loads the stored account of the cloud `uuid` through the host's "tavrocloud.query"
// method and decrypts its security key. False when the host call fails, the answer is no
// object, the account does not parse or the key does not decrypt.
bool get_login_info(const std::string& uuid, Login& login);

// Replaces the host-encrypted `key` by its plain text. False (key unchanged, nothing
// logged) when it cannot be decrypted with the host's private key.
bool decrypt_security_key(secure_string& key);

}  // namespace tavrocloud

#endif  // TAVROCLOUD_COMMON_UTILS_H

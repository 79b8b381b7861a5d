#include "tavrocloud/common/utils.h"

#include <ace/Log_Msg.h>

#include <cctype>
#include <utility>

#include "identity/host_manager.h"
#include "identity/rsa_codec.h"
#include "jsonrpc/json_rpc.h"
#include "tavrocloud/common/tavrocloud_login.h"
#include "yolt/check.h"
#include "yolt/loose_version.h"

namespace tavrocloud {

#define TAVROCLOUD_ROW(word, value) \
  { word, sizeof(word) - 1, value }

const Key2_Value_T<Status> STATUS_TABLE[] = {TAVROCLOUD_ROW("attaching", ATTACHING),
                                             TAVROCLOUD_ROW("attached", ATTACHED),
                                             TAVROCLOUD_ROW("available", AVAILABLE),
                                             TAVROCLOUD_ROW("creating", CREATING),
                                             TAVROCLOUD_ROW("detaching", DETACHING),
                                             TAVROCLOUD_ROW("detached", DETACHED),
                                             TAVROCLOUD_ROW("deleting", DELETING),
                                             TAVROCLOUD_ROW("deleted", DELETED),
                                             TAVROCLOUD_ROW("pending", PENDING),
                                             TAVROCLOUD_ROW("running", RUNNING),
                                             TAVROCLOUD_ROW("in-use", IN_USE),
                                             TAVROCLOUD_ROW("shutting-down", SHUTTING_DOWN),
                                             TAVROCLOUD_ROW("terminated", TERMINATED),
                                             TAVROCLOUD_ROW("stopping", STOPPING),
                                             TAVROCLOUD_ROW("stopped", STOPPED),
                                             TAVROCLOUD_ROW("complete", COMPLETE),
                                             TAVROCLOUD_ROW("completed", COMPLETED),
                                             TAVROCLOUD_ROW("error", ERROR),
                                             {nullptr, 0, UNKNOWN}};

const Key2_Value_T<Network_Interface_Type> NET_INTERFACE_TABLE[] = {
    TAVROCLOUD_ROW("main", MAIN), TAVROCLOUD_ROW("extend", EXTEND), {nullptr, 0, UNKNOWN_TYPE}};

const Key2_Value_T<Net_Operation> NET_OP_TABLE[] = {
    TAVROCLOUD_ROW("auto", Net_Operation::AUTO),
    TAVROCLOUD_ROW("reserve", Net_Operation::RESERVE),
    TAVROCLOUD_ROW("specify", Net_Operation::SPECIFY),
    {nullptr, 0, Net_Operation::UNKNOWN}};

#undef TAVROCLOUD_ROW

Status name_to_status(const char* name, size_t len) {
  return get_key_value_entry(STATUS_TABLE, name, len)->value;
}

Network_Interface_Type str_to_net_interface(const char* name, size_t len) {
  return get_key_value_entry(NET_INTERFACE_TABLE, name, len)->value;
}

Net_Operation str_to_operation(const char* name, size_t len) {
  return get_key_value_entry(NET_OP_TABLE, name, len)->value;
}

const char* status_to_name(Status status) { return get_key_value_entry(STATUS_TABLE, status)->key; }

const char* net_interface_to_str(Network_Interface_Type type) {
  // Its callers copy the word into records and JSON, which must never see a null text.
  const char* const word = get_key_value_entry(NET_INTERFACE_TABLE, type)->key;
  return word != nullptr ? word : "";
}

const char* operation_to_str(Net_Operation op) {
  return get_key_value_entry(NET_OP_TABLE, op)->key;
}

bool support_tmp_snapshot(const std::string& version) {
  if (version.empty()) return false;
  // Clouds report "V9.8"; a bare "9.8" must not lose its first digit.
  const unsigned char first = static_cast<unsigned char>(version[0]);
  const size_t skip = std::isdigit(first) ? 0 : 1;
  return Loose_Version(version.substr(skip)) >= Loose_Version("9.8");
}

bool build_new_device(const std::set<std::string>& devices, std::string& device) {
  if (devices.empty()) return false;
  device = *devices.rbegin();
  if (device.empty()) {
    ACE_ERROR((LM_ERROR, "device name is empty.\n"));
    return false;
  }
  const unsigned char last = static_cast<unsigned char>(device.back());
  if (!std::isalpha(last)) {
    ACE_ERROR((LM_ERROR, "device name %s doesn't end with alpha.\n", device.c_str()));
    return false;
  }
  // There is no letter after z: advancing it would give a name no disk bus accepts.
  if (last == 'z' || last == 'Z') {
    ACE_ERROR((LM_ERROR, "device name %s ends with the last letter, no next device name.\n",
               device.c_str()));
    return false;
  }
  device.back() = static_cast<char>(last + 1);
  return true;
}

bool get_login_info(const std::string& uuid, Login& login) {
  json_spirit::Object query;
  query["uuid"] = uuid;
  const json_spirit::Value params(std::move(query));
  json_spirit::Value result;
  if (!global_json_rpc("tavrocloud.query", params, -1, &result, json_spirit::null_type, -1)) {
    return false;
  }
  YOLT_CHECK_JSON_OBJECT(result, false);
  if (!(login << result.get_obj())) {
    ACE_ERROR((LM_ERROR, "Failed to load login info.\n"));
    return false;
  }
  return decrypt_security_key(login.security_key);
}

bool decrypt_security_key(secure_string& key) {
  const secure_string& private_key = Host_Manager::instance().rsa_prvkey();
  RSA_Decoder decoder(key.data(), key.size(), private_key.data(), private_key.size(), true,
                      RSA_CODEC_OAEP_SHA256);
  if (!decoder) return false;
  key.assign(reinterpret_cast<const char*>(decoder.get()), decoder.length());
  return true;
}

}  // namespace tavrocloud

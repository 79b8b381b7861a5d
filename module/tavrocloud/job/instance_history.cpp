#include "tavrocloud/job/instance_history.h"

#include "json_spirit/assign.h"
#include "runtime/posix_time.h"
#include "yolt/key_value.h"

#include <cstring>

namespace tavrocloud {

namespace {

const Key2_Value_T<VM_History_State> STATE_TABLE[] = {
    {"completed", sizeof("completed") - 1, VM_History_State::COMPLETED},
    {"skipped", sizeof("skipped") - 1, VM_History_State::SKIPPED},
    {"failed", sizeof("failed") - 1, VM_History_State::FAILED},
    {nullptr, 0, VM_History_State::UNKNOWN},
};

}  // namespace

const char* vm_hist_state_to_str(VM_History_State state) {
  const Key2_Value_T<VM_History_State>* row = get_key_value_entry(STATE_TABLE, state);
  return row->key != nullptr ? row->key : "failed";
}

VM_History_State str_to_vm_hist_state(const char* text) {
  if (text == nullptr) return VM_History_State::UNKNOWN;
  return get_key_value_entry(STATE_TABLE, text, std::strlen(text))->value;
}

std::string history_time(time_t t) {
  if (t == 0) return "-";
  return POSIX_Time_To_ISO8601(t, "%Y-%m-%d %H:%M:%S").c_str();
}

Instance_History& Instance_Histories::operator[](const std::string& id) {
  std::lock_guard<std::mutex> guard(lock_);
  return histories_[id];
}

json_spirit::Value Instance_Histories::dump() const {
  std::lock_guard<std::mutex> guard(lock_);
  json_spirit::Array out;
  out.reserve(histories_.size());
  for (const auto& entry : histories_) {
    const Instance_History& h = entry.second;
    json_spirit::Object obj;
    json_spirit::insert(obj)("uuid", entry.first)("name", h.instance_name)(
        "size", h.source_size)("set_size", h.set_size)("storaged_size", h.storage_size)(
        "state", vm_hist_state_to_str(h.state))("start_time", h.start_time)(
        "end_time", h.end_time)("retry", h.retry);
    out.push_back(std::move(obj));
  }
  return out;
}

}  // namespace tavrocloud

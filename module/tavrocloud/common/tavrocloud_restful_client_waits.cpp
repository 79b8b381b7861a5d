#include "tavrocloud/common/tavrocloud_restful_client_waits.h"

#include "yolt/sleep.h"

#include <algorithm>
#include <iterator>

namespace tavrocloud {

const char* const PAGE_SIZE = "20";

Wait_Deadline::Wait_Deadline(unsigned int timeout_secs)
    : timeout_secs_(timeout_secs), slept_secs_(0), start_(std::chrono::steady_clock::now()) {}

uint64_t Wait_Deadline::elapsed_secs() const {
  const auto passed = std::chrono::steady_clock::now() - start_;
  const auto wall = std::chrono::duration_cast<std::chrono::seconds>(passed).count();
  return std::max<uint64_t>(slept_secs_, wall < 0 ? 0 : static_cast<uint64_t>(wall));
}

bool Wait_Deadline::sleep(unsigned int delay) {
  const uint64_t elapsed = elapsed_secs();
  if (elapsed >= timeout_secs_) return false;
  const uint64_t secs = std::min<uint64_t>(delay, timeout_secs_ - elapsed);
  yolt_sleep(static_cast<unsigned int>(secs));
  slept_secs_ += secs;
  return true;
}

bool RESTful_Client::query_items_by_next_token(const char* action, const Params& filter,
                                               const std::string& next_token,
                                               const std::string& max_records,
                                               Default_Response& rsp) {
  Params params = filter;
  params.emplace_back("MaxRecords", max_records);
  params.emplace_back("NextToken", next_token);
  if (!send_request(action, params, rsp)) {
    ACE_ERROR((LM_ERROR, "Failed to query items by next token:%s, for action:%s.\n",
               next_token.c_str(), action));
    return false;
  }
  return true;
}

bool RESTful_Client::filter_instances_by_status(Instances& instances, Status status, bool equal) {
  if (instances.empty()) return false;
  const auto drop = [status, equal](const Instance& instance) {
    return equal ? instance.status != status : instance.status == status;
  };
  instances.erase(std::remove_if(instances.begin(), instances.end(), drop), instances.end());
  return true;
}

}  // namespace tavrocloud

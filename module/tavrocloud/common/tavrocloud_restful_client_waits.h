// The waiting and paging machinery behind the cloud client's action operations: the
// backoff of every status poll, the overall deadline of a wait, the generic status wait
// and the walk over the later pages of a listing. Included only by the client's sources.
#ifndef TAVROCLOUD_COMMON_TAVROCLOUD_RESTFUL_CLIENT_WAITS_H
#define TAVROCLOUD_COMMON_TAVROCLOUD_RESTFUL_CLIENT_WAITS_H

#include "tavrocloud/common/tavrocloud_restful_client.h"
#include "yolt/countdown.h"

#include <ace/Log_Msg.h>

#include <chrono>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace tavrocloud {

// Page size asked for on every page after the first.
extern const char* const PAGE_SIZE;

// The waits between two polls of a resource: 2 seconds doubling up to 60, without end
// by count (the deadline of Wait_Deadline ends a wait that never settles).
inline boost::iterator_range<Exponential_Backoff_Iterator> poll_backoff() {
  return exponential_backoff(RESTful_Client::QUERY_RES_SLOT_TIME, 0xFFFFFFFFu,
                             RESTful_Client::QUERY_RES_MAX_INTERVAL, false);
}

// The overall time a wait may take. It counts the seconds slept and the wall-clock time
// since the wait began, whichever is more, so it holds both when requests are slow and
// when a test makes the sleeps instant.
class Wait_Deadline {
 public:
  explicit Wait_Deadline(unsigned int timeout_secs);

  // Sleeps `delay` seconds (through yolt_sleep), cut to the time left, and returns true;
  // returns false without sleeping once the time is spent. The poll after the last
  // sleep therefore comes at the deadline.
  bool sleep(unsigned int delay);

  // Seconds since the wait began (or slept, when more).
  uint64_t elapsed_secs() const;

 private:
  uint64_t timeout_secs_;
  uint64_t slept_secs_;
  std::chrono::steady_clock::time_point start_;
};

template <typename Query_Func, typename Rsp_Type>
bool RESTful_Client::query_resource(Query_Func query_func, Rsp_Type& resource,
                                    Status wait_status_flags, Status success_status_flags,
                                    unsigned int timeout_secs, Listing_Grace* grace) {
  Wait_Deadline deadline(timeout_secs);
  bool listed = false;
  for (const unsigned int delay : poll_backoff()) {
    if (grace != nullptr) {
      grace->tolerated = !listed && deadline.elapsed_secs() < NEW_RESOURCE_LISTING_GRACE;
      grace->seen = false;
    }
    if (query_func(resource)) {
      listed = true;
      if (resource.status == success_status_flags) return true;
      if (resource.status != wait_status_flags) {
        ACE_ERROR((LM_ERROR, "Invalid resource status:%d.\n", static_cast<int>(resource.status)));
        return false;
      }
    } else if (grace == nullptr || !grace->seen) {
      return false;
    }
    if (!deadline.sleep(delay)) break;
  }
  ACE_ERROR((LM_ERROR, "Wait for resource timeout.\n"));
  return false;
}

template <typename Rsp_Type, typename Record>
bool RESTful_Client::query_later_pages(const char* action, const Params& filter, Rsp_Type& rsp,
                                       const std::vector<Record>& (Rsp_Type::*page)() const,
                                       std::vector<Record>& items) {
  // A cloud that hands out a token again would make this loop for ever.
  std::set<std::string> given;
  while (!rsp.next_token().empty()) {
    const std::string token = rsp.next_token();
    if (!given.insert(token).second) {
      ACE_ERROR((LM_ERROR,
                 "Failed to query items by next token:%s, for action:%s, the cloud gave "
                 "this token before.\n",
                 token.c_str(), action));
      return false;
    }
    if (!query_items_by_next_token(action, filter, token, PAGE_SIZE, rsp)) return false;
    const std::vector<Record>& got = (rsp.*page)();
    items.insert(items.end(), got.begin(), got.end());
  }
  return true;
}

}  // namespace tavrocloud

#endif  // TAVROCLOUD_COMMON_TAVROCLOUD_RESTFUL_CLIENT_WAITS_H

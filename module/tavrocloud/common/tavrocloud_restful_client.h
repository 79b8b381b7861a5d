// The module's client of the cloud's query API. Every executor, instance handler and
// console request owns one, logs it in with a cloud account and calls one operation per
// API action; one logged-in client may be called from several threads at once, since it
// keeps no per-request state. Signing, transport and the feeding of XML answers into the
// response parsers belong to the host's request library.
//
// Layout: this file declares the whole class. The login and the request transport are in
// tavrocloud_restful_client.cpp; the action operations, the waits and paging, the
// temporary snapshots and the agent attachment each go in a source file of their own
// (tavrocloud_restful_client_<topic>.cpp), all built on `send_request`.
#ifndef TAVROCLOUD_COMMON_TAVROCLOUD_RESTFUL_CLIENT_H
#define TAVROCLOUD_COMMON_TAVROCLOUD_RESTFUL_CLIENT_H

#include <ace/Thread_Mutex.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "cloud/api_client.h"
#include "cloud/api_xml_response.h"
#include "tavrocloud/common/tavrocloud_login.h"

namespace tavrocloud {

class RESTful_Client {
 public:
  using Client_ptr = std::unique_ptr<cloud::API_Client>;
  // Request parameters, name then value, sent in vector order.
  using Params = std::vector<std::pair<std::string, std::string>>;

  enum {
    QUERY_RES_SLOT_TIME = 2,           // first wait of every status poll, seconds
    MAX_RETRY = 3,                     // attempts at creating a temporary snapshot
    QUERY_RES_RETRIES = 10,            // polls paired with the slot time and interval
    QUERY_RES_MAX_INTERVAL = 60,       // longest wait between two polls, seconds
    CLEAR_TMP_SNAPSHOT_INTERVAL = 60,  // longest wait between two deletions, seconds
    CLEAR_TMP_SNAPSHOT_TIMEOUT = 360,  // budget for clearing a temporary snapshot, seconds
    MIN_PRODUCT_UUID_LENGTH = 8        // shortest product id the agent's id is taken from
  };

  // No client and no version yet; sends nothing.
  RESTful_Client();
  // Frees the request client; the account copy wipes its keys.
  ~RESTful_Client();

  RESTful_Client(const RESTful_Client&) = delete;
  RESTful_Client& operator=(const RESTful_Client&) = delete;

  // Makes a request client for the account and asks the cloud for its version. Returns
  // true when a client was made and the cloud answered (even with an error document for
  // the version, which leaves the version as it was); false, logged, when no client can
  // be made, the cloud cannot be reached or it refused the keys (HTTP 401/403). A failed
  // login leaves an earlier one in force.
  bool login(const Login& login_info);

  // The cloud's version text as the last successful version query returned it; empty
  // until one succeeded.
  const std::string& version() const { return version_; }

  // Sends `action` ("ec2", API version "2016-11-15") with `params` in order and feeds the
  // answer to `rsp`. Returns the request library's verdict: true only when the answer
  // arrived and `rsp.success()` holds. Logs nothing, except when called before a
  // successful login (then false without sending).
  bool send_request(const char* action, const Params& params, cloud::API_XML_Response& rsp);

  // Asks the cloud for its version and stores it (see version()). False, logged with the
  // cloud's message, when the request fails.
  bool query_cloud_version();

  // ---- action operations ------------------------------------------------------------------
  // Declared here and defined in tavrocloud_restful_client_<topic>.cpp as they are added:
  // the queries and actions, the waits and paging, the temporary snapshots and the
  // attachment to the agent instance.

 private:
  // send_request over a given request client (login tries a new one before taking it on).
  static bool send_request(cloud::API_Client& client, const char* action, const Params& params,
                           cloud::API_XML_Response& rsp);

  // Held by the attachment to the agent for its whole run, so that attachments in one
  // process choose their device names one after the other.
  static ACE_Thread_Mutex mutex_;

  std::string version_;
  Client_ptr client_;
  Login login_info_;
};

}  // namespace tavrocloud

#endif  // TAVROCLOUD_COMMON_TAVROCLOUD_RESTFUL_CLIENT_H

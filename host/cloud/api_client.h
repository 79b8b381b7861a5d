// A client of one cloud's query API, as made by `cloud::aws::SDK::make_client`
// (aws_client.h). The cloud client of the module owns one and calls `send` for every
// action, from several threads at once.
#ifndef HOST_CLOUD_API_CLIENT_H
#define HOST_CLOUD_API_CLIENT_H

#include "cloud/api_request.h"
#include "cloud/api_response.h"

namespace cloud {

class API_Client {
 public:
  virtual ~API_Client() = default;
  API_Client(const API_Client&) = delete;
  API_Client& operator=(const API_Client&) = delete;

  // Signs and sends `request`, feeds the answer body to `response` and returns true only
  // when the transfer completed with HTTP 2xx, the body was accepted, it was no error
  // document and `response.success()` holds. On false, `response.outcome()` tells why;
  // after an error document the parser has seen the body, so its own message carries
  // the cloud's text. Safe to call from several threads at once.
  virtual bool send(const API_Request_Base& request, API_Response_Base& response) = 0;

 protected:
  API_Client() = default;
};

}  // namespace cloud

#endif  // HOST_CLOUD_API_CLIENT_H

#include "tavrocloud/common/tavrocloud_restful_client.h"

#include <ace/Log_Msg.h>

#include "cloud/api_request.h"
#include "cloud/aws_client.h"
#include "cloud/credentials.h"
#include "tavrocloud/common/get_cloud_version_response.h"

namespace tavrocloud {

namespace {

const char SERVICE[] = "ec2";
const char API_VERSION[] = "2016-11-15";

void log_version_failure(const Default_Response& rsp) {
  ACE_ERROR((LM_ERROR, "Failed to query cloud version, msg: %s.\n", rsp.message().c_str()));
}

// True, logged, when the failed answer to a login's first request shows that logging in
// cannot work: nothing answered, or the cloud refused the keys. Any other answer (an
// error document included) means the cloud is there and takes the account.
bool refuses_login(const Default_Response& rsp, const Login& login_info) {
  const unsigned port = login_info.port;
  if (rsp.outcome() == cloud::API_Response_Base::OUTCOME_TRANSPORT_FAILED) {
    ACE_ERROR((LM_ERROR, "Failed to log in to cloud %s:%u, %s.\n", login_info.host.c_str(), port,
               rsp.failure().c_str()));
    return true;
  }
  const long status = rsp.http_status();
  if (status == 401 || status == 403) {
    ACE_ERROR((LM_ERROR,
               "Failed to log in to cloud %s:%u, it refused the keys (HTTP %d), msg: %s.\n",
               login_info.host.c_str(), port, static_cast<int>(status), rsp.message().c_str()));
    return true;
  }
  return false;
}

}  // namespace

ACE_Thread_Mutex RESTful_Client::mutex_;

RESTful_Client::RESTful_Client() = default;

RESTful_Client::~RESTful_Client() = default;

bool RESTful_Client::login(const Login& login_info) {
  Client_ptr client;
  {
    const cloud::Credentials credentials(login_info.access_key.c_str(),
                                         login_info.security_key.c_str(), nullptr, 0);
    client = cloud::aws::SDK::make_client(login_info.host, login_info.port, login_info.ssl,
                                          login_info.locale, credentials);
  }
  if (!client) {
    ACE_ERROR((LM_ERROR, "Failed to make aws client.\n"));
    return false;
  }
  // The version query is the login's first contact with the cloud: the new client is
  // only taken on when the cloud answered and did not refuse the keys.
  Get_Cloud_Version_Response rsp;
  const bool got_version = send_request(*client, "GetCloudVersion", Params(), rsp);
  if (!got_version && refuses_login(rsp, login_info)) return false;
  if (!got_version) log_version_failure(rsp);
  client_ = std::move(client);
  if (got_version) version_ = rsp.version();
  login_info_ = login_info;
  return true;
}

bool RESTful_Client::query_cloud_version() {
  Get_Cloud_Version_Response rsp;
  if (!send_request("GetCloudVersion", Params(), rsp)) {
    log_version_failure(rsp);
    return false;
  }
  version_ = rsp.version();
  return true;
}

bool RESTful_Client::send_request(const char* action, const Params& params,
                                  Default_Response& rsp) {
  if (!client_) {
    ACE_ERROR((LM_ERROR, "Failed to send %s: the cloud client is not logged in.\n",
               action != nullptr ? action : ""));
    return false;
  }
  return send_request(*client_, action, params, rsp);
}

bool RESTful_Client::send_request(cloud::API_Client& client, const char* action,
                                  const Params& params, Default_Response& rsp) {
  cloud::aws::AWS_Request request(SERVICE, API_VERSION, action);
  for (const auto& param : params) request.set_parameter(param.first, param.second);
  rsp.clear_message();
  return client.send(request, rsp);
}

}  // namespace tavrocloud

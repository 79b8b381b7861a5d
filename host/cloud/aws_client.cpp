#include "cloud/aws_client.h"

#include "cloud/aws_signer.h"
#include "cloud/percent_encoding.h"

#include <ace/Log_Msg.h>
#include <curl/curl.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

namespace cloud {
namespace aws {

const char* const DEFAULT_REGION = "us-east-1";

namespace {

const char CONTENT_TYPE[] = "application/x-www-form-urlencoded; charset=utf-8";

bool curl_ready() {
  static std::once_flag once;
  static bool ready = false;
  std::call_once(once, [] { ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
  return ready;
}

// A host name or address as a URL authority accepts it: no white space, controls or
// characters that would end or redirect the authority.
bool valid_host(const std::string& host) {
  if (host.empty() || host.size() > 255) return false;
  for (unsigned char c : host) {
    if (c <= 0x20 || c >= 0x7f) return false;
    if (std::strchr("/?#@\\%\"'<>`{}|^,;", c) != nullptr) return false;
  }
  const bool bracketed = host.front() == '[';
  if (bracketed != (host.back() == ']')) return false;
  return bracketed || host.find_first_of("[]") == std::string::npos;
}

// IPv6 literals take brackets inside a URL and a Host header.
std::string authority_host(const std::string& host) {
  if (host.find(':') != std::string::npos && host.front() != '[') return "[" + host + "]";
  return host;
}

std::string host_header(const Endpoint& endpoint) {
  const uint16_t default_port = endpoint.ssl ? 443 : 80;
  std::string value = authority_host(endpoint.host);
  if (endpoint.port != default_port) value += ":" + std::to_string(endpoint.port);
  return value;
}

struct Curl_Easy_Deleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct Curl_List_Deleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using Curl_Easy = std::unique_ptr<CURL, Curl_Easy_Deleter>;
using Curl_List = std::unique_ptr<curl_slist, Curl_List_Deleter>;

// Collects the body up to a cap; a larger answer aborts the transfer.
struct Body_Sink {
  std::string body;
  size_t cap = 0;
  bool overflow = false;

  static size_t write(char* data, size_t size, size_t count, void* self) {
    Body_Sink& sink = *static_cast<Body_Sink*>(self);
    const size_t bytes = size * count;
    if (sink.body.size() + bytes > sink.cap) {
      sink.overflow = true;
      return 0;
    }
    sink.body.append(data, bytes);
    return bytes;
  }
};

// Watches a transfer's progress in windows of `seconds`: fewer than `bytes` moved (up
// or down) within one window stops it.
struct Progress_Watch {
  using Clock = std::chrono::steady_clock;
  curl_off_t bytes = 0;
  std::chrono::seconds window{0};
  Clock::time_point window_start = Clock::now();
  curl_off_t moved_at_start = 0;
  bool stalled = false;

  static int on_progress(void* self, curl_off_t, curl_off_t down, curl_off_t, curl_off_t up) {
    Progress_Watch& watch = *static_cast<Progress_Watch*>(self);
    const Clock::time_point now = Clock::now();
    if (watch.window.count() <= 0 || now - watch.window_start < watch.window) return 0;
    if (down + up - watch.moved_at_start < watch.bytes) {
      watch.stalled = true;
      return 1;
    }
    watch.window_start = now;
    watch.moved_at_start = down + up;
    return 0;
  }
};

// Why a transfer that got `status` (0: none) failed, for the log and the response.
std::string transport_failure(CURL* h, CURLcode rc, long status, const char* error,
                              const Body_Sink& sink, const Progress_Watch& watch,
                              const Client_Config& config) {
  if (sink.overflow)
    return "the cloud's answer was larger than the limit of " +
           std::to_string(config.max_response_bytes) + " bytes";
  if (watch.stalled)
    return "the cloud's answer made no real progress (less than " +
           std::to_string(config.low_speed_bytes) + " bytes in " +
           std::to_string(config.low_speed_seconds) + " s)";
  std::string why = error[0] != '\0' ? error : curl_easy_strerror(rc);
  long os_errno = 0;
  if (curl_easy_getinfo(h, CURLINFO_OS_ERRNO, &os_errno) == CURLE_OK && os_errno != 0) {
    char buffer[256];  // sends run on several threads: strerror's own buffer is shared
    const std::string system_text = strerror_r(static_cast<int>(os_errno), buffer, sizeof buffer);
    if (why.find(system_text) == std::string::npos) why += " (" + system_text + ")";
  }
  return (status == 0 ? "the cloud could not be reached: " : "the cloud's answer broke off: ") +
         why;
}

bool append_header(Curl_List& list, const std::string& line) {
  curl_slist* grown = curl_slist_append(list.get(), line.c_str());
  if (grown == nullptr) return false;
  list.release();
  list.reset(grown);
  return true;
}

// The form body: Action and Version first, then the caller's parameters in order.
std::string request_body(const API_Request_Base& request) {
  API_Request_Base::Parameters all;
  all.reserve(request.parameters().size() + 2);
  all.emplace_back("Action", request.action());
  all.emplace_back("Version", request.version());
  all.insert(all.end(), request.parameters().begin(), request.parameters().end());
  return form_encode(all);
}

}  // namespace

AWS_Client::AWS_Client(Endpoint endpoint, Credentials credentials, Client_Config config)
    : endpoint_(std::move(endpoint)),
      credentials_(std::move(credentials)),
      config_(std::move(config)) {
  if (endpoint_.region.empty()) endpoint_.region = DEFAULT_REGION;
}

AWS_Client::~AWS_Client() = default;

std::string AWS_Client::url() const {
  return std::string(endpoint_.ssl ? "https://" : "http://") + authority_host(endpoint_.host) +
         ":" + std::to_string(endpoint_.port) + "/";
}

bool AWS_Client::send(const API_Request_Base& request, API_Response_Base& response) {
  const std::string body = request_body(request);
  const std::string date = amz_date(std::time(nullptr));

  Signable_Request signable;
  signable.method = "POST";
  signable.path = "/";
  signable.headers = {
      {"Content-Type", CONTENT_TYPE}, {"Host", host_header(endpoint_)}, {"X-Amz-Date", date}};
  if (!credentials_.token().empty())
    signable.headers.emplace_back("X-Amz-Security-Token", credentials_.token().c_str());
  signable.payload_hash = sha256_hex(body.data(), body.size());
  const Signature_V4 signature =
      sign_v4(signable, credentials_, endpoint_.region, request.service(), date);

  Curl_List headers;
  bool listed = true;
  for (const auto& h : signable.headers)
    listed = listed && append_header(headers, h.first + ": " + h.second);
  listed = listed && append_header(headers, "Authorization: " + signature.authorization);
  listed = listed && append_header(headers, "Expect:");
  Curl_Easy easy(curl_easy_init());
  if (!listed || easy == nullptr) {
    ACE_ERROR((LM_ERROR, "Cloud request %C: out of memory.\n", request.action().c_str()));
    return deliver_transport_failure(response, 0, "out of memory");
  }

  Body_Sink sink;
  sink.cap = config_.max_response_bytes;
  const std::string target = url();
  CURL* h = easy.get();
  curl_easy_setopt(h, CURLOPT_URL, target.c_str());
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_POST, 1L);
  curl_easy_setopt(h, CURLOPT_POSTFIELDS, body.data());
  curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &Body_Sink::write);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink);
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, config_.connect_timeout_seconds);
  Progress_Watch watch;
  watch.bytes = config_.low_speed_bytes;
  watch.window = std::chrono::seconds(config_.low_speed_seconds);
  curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &Progress_Watch::on_progress);
  curl_easy_setopt(h, CURLOPT_XFERINFODATA, &watch);
  curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(h, CURLOPT_TIMEOUT, config_.total_timeout_seconds);
  curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, config_.verify_peer ? 1L : 0L);
  curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, config_.verify_peer ? 2L : 0L);
  if (!config_.ca_file.empty()) curl_easy_setopt(h, CURLOPT_CAINFO, config_.ca_file.c_str());
  char error[CURL_ERROR_SIZE] = "";
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, error);

  const CURLcode rc = curl_easy_perform(h);
  long status = 0;
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
  if (rc != CURLE_OK) {
    const std::string why = transport_failure(h, rc, status, error, sink, watch, config_);
    ACE_ERROR((LM_ERROR, "Cloud request %C to %C failed: %C.\n", request.action().c_str(),
               target.c_str(), why.c_str()));
    return deliver_transport_failure(response, status, why);
  }
  if (status < 200 || status > 299)
    ACE_DEBUG((LM_DEBUG, "Cloud request %C to %C answered HTTP %d.\n", request.action().c_str(),
               target.c_str(), static_cast<int>(status)));
  return deliver_answer(response, status, sink.body);
}

namespace {

std::mutex hook_mutex;
SDK::Make_Client_Hook& hook_slot() {
  static SDK::Make_Client_Hook hook;
  return hook;
}

}  // namespace

std::unique_ptr<API_Client> SDK::make_client(const std::string& host, uint16_t port, bool ssl,
                                             const std::string& locale,
                                             const Credentials& credentials) {
  Make_Client_Hook hook;
  {
    std::lock_guard<std::mutex> lock(hook_mutex);
    hook = hook_slot();
  }
  if (hook) return hook(host, port, ssl, locale, credentials);
  return make_client(host, port, ssl, locale, credentials, Client_Config());
}

std::unique_ptr<API_Client> SDK::make_client(const std::string& host, uint16_t port, bool ssl,
                                             const std::string& locale,
                                             const Credentials& credentials,
                                             const Client_Config& config) {
  if (!valid_host(host) || port == 0 || credentials.access_key().empty() ||
      credentials.secret_key().empty() || !curl_ready())
    return nullptr;
  Endpoint endpoint;
  endpoint.host = host;
  endpoint.port = port;
  endpoint.ssl = ssl;
  endpoint.region = locale;
  return std::make_unique<AWS_Client>(std::move(endpoint), credentials, config);
}

SDK::Make_Client_Hook SDK::set_make_client_hook(Make_Client_Hook hook) {
  std::lock_guard<std::mutex> lock(hook_mutex);
  Make_Client_Hook previous = std::move(hook_slot());
  hook_slot() = std::move(hook);
  return previous;
}

SDK::Hook_Guard::Hook_Guard(Make_Client_Hook hook)
    : previous_(set_make_client_hook(std::move(hook))) {}

SDK::Hook_Guard::~Hook_Guard() { set_make_client_hook(std::move(previous_)); }

}  // namespace aws
}  // namespace cloud

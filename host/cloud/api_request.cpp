#include "cloud/api_request.h"

namespace cloud {

namespace {
std::string text_or_empty(const char* text) { return text != nullptr ? text : ""; }
}  // namespace

API_Request_Base::API_Request_Base(const char* service, const char* version, const char* action)
    : service_(text_or_empty(service)),
      version_(text_or_empty(version)),
      action_(text_or_empty(action)) {}

void API_Request_Base::set_parameter(const char* name, const char* value) {
  parameters_.emplace_back(text_or_empty(name), text_or_empty(value));
}

void API_Request_Base::set_parameter(const std::string& name, const std::string& value) {
  parameters_.emplace_back(name, value);
}

namespace aws {

AWS_Request::AWS_Request(const char* service, const char* version, const char* action)
    : API_Request_Base(service, version, action) {}

}  // namespace aws
}  // namespace cloud

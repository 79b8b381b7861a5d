#include "tavrocloud/common/default_response.h"

namespace tavrocloud {

Default_Response::Default_Response(const char* action)
    : cloud::API_XML_Response(action), element_(0) {}

Default_Response::~Default_Response() = default;

bool Default_Response::handle_body(const char* data, size_t length) {
  reset_open_elements();
  root_opened_ = false;
  first_element_.clear();
  other_kind_.clear();
  const bool accepted = cloud::API_XML_Response::handle_body(data, length);
  if (accepted && !root_opened_) {
    other_kind_ = "the cloud's answer to " + action() +
                  " is of another kind (its root element is " + first_element_ + ")";
  }
  return accepted;
}

bool Default_Response::success() const {
  return cloud::API_XML_Response::success() && root_opened_;
}

void Default_Response::reset_open_elements() { element_ = 0; }

}  // namespace tavrocloud

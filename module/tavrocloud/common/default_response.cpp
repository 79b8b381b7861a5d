#include "tavrocloud/common/default_response.h"

namespace tavrocloud {

Default_Response::Default_Response(const char* action)
    : cloud::API_XML_Response(action), element_(0) {}

Default_Response::~Default_Response() = default;

bool Default_Response::handle_body(const char* data, size_t length) {
  reset_open_elements();
  return cloud::API_XML_Response::handle_body(data, length);
}

void Default_Response::reset_open_elements() { element_ = 0; }

}  // namespace tavrocloud

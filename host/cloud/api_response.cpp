#include "cloud/api_response.h"

namespace cloud {

bool API_Response_Base::success() const { return body_accepted_ && !error_document_; }

void API_Response_Base::set_outcome(Outcome outcome, long http_status) {
  outcome_ = outcome;
  http_status_ = http_status;
}

void API_Response_Base::reset_document() {
  body_accepted_ = false;
  error_document_ = false;
  error_code_.clear();
  error_message_.clear();
}

void API_Response_Base::set_error_document(const std::string& code, const std::string& message) {
  error_document_ = true;
  error_code_ = code;
  error_message_ = message;
}

bool deliver_answer(API_Response_Base& response, long http_status, const char* body,
                    size_t length) {
  const bool accepted =
      response.handle_body(body != nullptr ? body : "", body != nullptr ? length : 0);
  API_Response_Base::Outcome outcome;
  if (http_status < 200 || http_status > 299) {
    outcome = API_Response_Base::OUTCOME_HTTP_ERROR;
  } else if (!accepted) {
    outcome = API_Response_Base::OUTCOME_BAD_DOCUMENT;
  } else if (response.error_document()) {
    outcome = API_Response_Base::OUTCOME_ERROR_DOCUMENT;
  } else if (!response.success()) {
    outcome = API_Response_Base::OUTCOME_REJECTED;
  } else {
    outcome = API_Response_Base::OUTCOME_OK;
  }
  response.set_outcome(outcome, http_status);
  return outcome == API_Response_Base::OUTCOME_OK;
}

bool deliver_transport_failure(API_Response_Base& response, long http_status) {
  response.set_outcome(API_Response_Base::OUTCOME_TRANSPORT_FAILED, http_status);
  return false;
}

}  // namespace cloud

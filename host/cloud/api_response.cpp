#include "cloud/api_response.h"

#include <string>

namespace cloud {

namespace {

// Why an answer that arrived completely fails its send, as `failure()` tells it.
std::string answer_failure(const API_Response_Base& response, API_Response_Base::Outcome outcome,
                           long http_status) {
  std::string error = response.error_code();
  if (!response.error_message().empty())
    error += (error.empty() ? "" : ": ") + response.error_message();
  switch (outcome) {
    case API_Response_Base::OUTCOME_HTTP_ERROR:
      return "the cloud answered HTTP " + std::to_string(http_status) +
             (response.error_document() ? " (" + error + ")" : "");
    case API_Response_Base::OUTCOME_BAD_DOCUMENT:
      return "the cloud's answer is not acceptable XML: " + response.body_refusal();
    case API_Response_Base::OUTCOME_ERROR_DOCUMENT:
      return "the cloud refused the request" + (error.empty() ? "" : ": " + error);
    case API_Response_Base::OUTCOME_REJECTED:
      return "the cloud's answer does not report success";
    default:
      return "";
  }
}

}  // namespace

bool API_Response_Base::success() const { return body_accepted_ && !error_document_; }

void API_Response_Base::set_outcome(Outcome outcome, long http_status,
                                    const std::string& failure) {
  outcome_ = outcome;
  http_status_ = http_status;
  failure_ = failure;
}

void API_Response_Base::reset_document() {
  body_accepted_ = false;
  body_refusal_.clear();
  error_document_ = false;
  error_code_.clear();
  error_message_.clear();
}

void API_Response_Base::set_body_accepted(bool accepted, const std::string& refusal) {
  body_accepted_ = accepted;
  if (accepted) {
    body_refusal_.clear();
  } else {
    body_refusal_ = refusal.empty() ? "refused by the response parser" : refusal;
  }
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
  response.set_outcome(outcome, http_status, answer_failure(response, outcome, http_status));
  return outcome == API_Response_Base::OUTCOME_OK;
}

bool deliver_transport_failure(API_Response_Base& response, long http_status,
                               const std::string& why) {
  response.set_outcome(API_Response_Base::OUTCOME_TRANSPORT_FAILED, http_status,
                       why.empty() ? "the cloud could not be reached" : why);
  return false;
}

}  // namespace cloud

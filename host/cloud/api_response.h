// The receiving side of one request: the object that `API_Client::send` feeds the
// cloud's answer into and whose verdict decides whether the request succeeded. The
// module's XML response parsers derive from `API_XML_Response` (api_xml_response.h);
// fake clients in tests hand canned answers over with `deliver_answer`.
#ifndef HOST_CLOUD_API_RESPONSE_H
#define HOST_CLOUD_API_RESPONSE_H

#include <cstddef>
#include <string>

namespace cloud {

class API_Response_Base {
 public:
  // How the last send ended, from the first stage that failed. Read after `send`
  // returned false to tell an unreachable cloud from one that answered.
  enum Outcome {
    OUTCOME_NOT_SENT = 0,      // no send has finished with this object yet
    OUTCOME_TRANSPORT_FAILED,  // no complete answer: refused, time-out, TLS, truncated, too large
    OUTCOME_HTTP_ERROR,        // answered with a status outside 2xx (the body was still fed)
    OUTCOME_BAD_DOCUMENT,      // 2xx, but the body is no acceptable XML (syntax, DOCTYPE, empty)
    OUTCOME_ERROR_DOCUMENT,    // 2xx carrying an error document
    OUTCOME_REJECTED,          // 2xx, a good document, but `success()` said no
    OUTCOME_OK                 // the send returned true
  };

  virtual ~API_Response_Base() = default;

  // Feeds one complete answer body to the receiver. Returns true when the body was
  // accepted as a whole (for XML: well-formed, no DOCTYPE); false otherwise, in which
  // case the receiver may already have seen part of the document.
  virtual bool handle_body(const char* data, size_t length) = 0;

  // The receiver's verdict on the last body, consulted by the send after a 2xx answer.
  // This base version holds when the last body was accepted and was no error document;
  // parsers that know better override it.
  virtual bool success() const;

  Outcome outcome() const { return outcome_; }
  // HTTP status of the last answer; 0 when none arrived.
  long http_status() const { return http_status_; }
  // True when the last body was an error document (Response/Errors/Error, ErrorResponse/
  // Error or a bare Error root); its Code and Message texts are kept here as well.
  bool error_document() const { return error_document_; }
  const std::string& error_code() const { return error_code_; }
  const std::string& error_message() const { return error_message_; }
  // True when the last body handed to `handle_body` was accepted.
  bool body_accepted() const { return body_accepted_; }
  // Why the last body was not accepted, in words; empty when it was.
  const std::string& body_refusal() const { return body_refusal_; }
  // Why the last send failed, in words for a log line or a user ("the cloud could not
  // be reached: ...", "the cloud answered HTTP 503", ...); never empty after a failed
  // send, empty after a successful one.
  const std::string& failure() const { return failure_; }

  // Records how a send ended and why it failed (`failure` is empty for OUTCOME_OK);
  // called by clients only (`deliver_answer` does it for them).
  void set_outcome(Outcome outcome, long http_status, const std::string& failure);

 protected:
  API_Response_Base() = default;
  API_Response_Base(const API_Response_Base&) = default;
  API_Response_Base& operator=(const API_Response_Base&) = default;

  // Called by `handle_body` implementations before and after each body.
  void reset_document();
  // `refusal` says why a body was not accepted (empty: a general text is taken).
  void set_body_accepted(bool accepted, const std::string& refusal = "");
  void set_error_document(const std::string& code, const std::string& message);

 private:
  Outcome outcome_ = OUTCOME_NOT_SENT;
  long http_status_ = 0;
  bool body_accepted_ = false;
  std::string body_refusal_;
  std::string failure_;
  bool error_document_ = false;
  std::string error_code_;
  std::string error_message_;
};

// What every client does once an answer arrived completely: feeds `body` to `response`
// (whatever the status, so an error document reaches the parser), records the outcome
// and returns true exactly when the status is 2xx, the body was accepted, it was no error
// document and `response.success()` holds.
bool deliver_answer(API_Response_Base& response, long http_status, const char* body, size_t length);
inline bool deliver_answer(API_Response_Base& response, long http_status, const std::string& body) {
  return deliver_answer(response, http_status, body.data(), body.size());
}

// What every client does when no complete answer arrived: records
// OUTCOME_TRANSPORT_FAILED (with the status, if one was seen, and `why`, by default that
// the cloud could not be reached) and returns false. The receiver is fed nothing.
bool deliver_transport_failure(API_Response_Base& response, long http_status = 0,
                               const std::string& why = "");

}  // namespace cloud

#endif  // HOST_CLOUD_API_RESPONSE_H

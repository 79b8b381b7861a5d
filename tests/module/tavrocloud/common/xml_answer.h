// Canned cloud answers for the response parser tests: fed to a parser the way the host's
// request library does once an HTTP answer arrived (through ACEXML, with its verdict).
#ifndef TESTS_MODULE_TAVROCLOUD_COMMON_XML_ANSWER_H
#define TESTS_MODULE_TAVROCLOUD_COMMON_XML_ANSWER_H

#include <string>

#include "cloud/api_response.h"

namespace test {

// The send's verdict for `xml` answered with HTTP `status`.
inline bool answer(cloud::API_Response_Base& rsp, const std::string& xml, long status = 200) {
  return cloud::deliver_answer(rsp, status, xml);
}

// An error document as the cloud sends it, carrying `message`.
inline std::string error_document(const std::string& message) {
  return "<Response><Errors><Error><Code>InvalidParameterValue</Code><Message>" + message +
         "</Message></Error></Errors><RequestID>r-1</RequestID></Response>";
}

}  // namespace test

#endif  // TESTS_MODULE_TAVROCLOUD_COMMON_XML_ANSWER_H

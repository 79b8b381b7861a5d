// Base of every XML response parser of the cloud client. The host feeds an answer body
// through a hardened XML parser (expat) and the parser receives ACEXML's content events
// (startElement, characters, endElement) in document order; it overrides only those.
// Feeding guarantees:
//   - a UTF-8 byte-order mark and a missing XML declaration are tolerated;
//   - a document with a DOCTYPE is refused before any event is delivered;
//   - adjacent text (character data, entity and character references, CDATA sections)
//     inside one element arrives as ONE characters() event, never split; whitespace-only
//     text between elements is delivered too, like any other text;
//   - `localName` is the name without any namespace prefix;
//   - the whole body must be one well-formed document (nothing but comments, processing
//     instructions and white space after the root element); a syntax error stops the
//     events, is logged with its place and the body is not accepted;
//   - an element nested deeper than MAX_ELEMENT_DEPTH or carrying more than
//     MAX_ATTRIBUTES attributes stops the events and the body is not accepted (real
//     answers stay far below both);
//   - any input is handled in time linear in its length and memory within a small
//     multiple of it.
#ifndef HOST_CLOUD_API_XML_RESPONSE_H
#define HOST_CLOUD_API_XML_RESPONSE_H

#include "cloud/api_response.h"

#include <ACEXML/common/DefaultHandler.h>

#include <cstddef>
#include <string>

namespace cloud {

// Bounds of an acceptable answer, far above what any cloud sends.
constexpr size_t MAX_ELEMENT_DEPTH = size_t(1) << 10;
constexpr size_t MAX_ATTRIBUTES = size_t(1) << 14;
static_assert(MAX_ELEMENT_DEPTH == 1024 && MAX_ATTRIBUTES == 16384);

class API_XML_Response : public API_Response_Base, public ACEXML_DefaultHandler {
 public:
  // `action` names the request this parser reads the answer of (null is taken as "").
  explicit API_XML_Response(const char* action);
  ~API_XML_Response() override;

  const std::string& action() const { return action_; }

  // Parses `data` (not necessarily NUL-terminated; a NUL byte inside makes it
  // unacceptable) and delivers the content events as described above. Returns true
  // when the whole document parsed. Also records whether it was an error document.
  bool handle_body(const char* data, size_t length) override;
  bool handle_body(const std::string& body) { return handle_body(body.data(), body.size()); }

 private:
  std::string action_;
};

}  // namespace cloud

#endif  // HOST_CLOUD_API_XML_RESPONSE_H

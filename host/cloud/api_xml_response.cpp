#include "cloud/api_xml_response.h"

#include <ACEXML/common/InputSource.h>
#include <ACEXML/common/SAXExceptions.h>
#include <ACEXML/common/StrCharStream.h>
#include <ACEXML/parser/parser/Parser.h>
#include <ace/Log_Msg.h>

#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <vector>

namespace cloud {

namespace {

const char XML_DECLARATION[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";

bool starts_with(const std::string& text, size_t pos, const char* prefix) {
  return text.compare(pos, std::strlen(prefix), prefix) == 0;
}

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// True when the prolog after position `pos` (past the XML declaration) holds a DOCTYPE.
bool prolog_has_doctype(const std::string& doc, size_t pos) {
  while (pos < doc.size()) {
    if (is_space(doc[pos])) {
      ++pos;
    } else if (starts_with(doc, pos, "<!--")) {
      size_t end = doc.find("-->", pos + 4);
      if (end == std::string::npos) return false;
      pos = end + 3;
    } else if (starts_with(doc, pos, "<?")) {
      size_t end = doc.find("?>", pos + 2);
      if (end == std::string::npos) return false;
      pos = end + 2;
    } else {
      return starts_with(doc, pos, "<!DOCTYPE");
    }
  }
  return false;
}

// The text ACEXML is given: no byte-order mark, no white space before the declaration, a
// declaration where the body has none. False when the body is not acceptable: a NUL byte
// (the parser reads a C string) or a DOCTYPE (entity expansion is not wanted from a
// remote peer).
bool prepare_document(const char* data, size_t length, std::string& doc) {
  if (std::memchr(data, '\0', length) != nullptr) return false;
  size_t pos = 0;
  if (length >= 3 && std::memcmp(data, "\xEF\xBB\xBF", 3) == 0) pos = 3;
  size_t first = pos;
  while (first < length && is_space(data[first])) ++first;
  const size_t decl_length = 5;  // "<?xml"
  const bool has_declaration =
      length - first > decl_length && std::memcmp(data + first, "<?xml", decl_length) == 0 &&
      (is_space(data[first + decl_length]) || data[first + decl_length] == '?');
  size_t prolog_start;
  if (has_declaration) {
    doc.assign(data + first, length - first);
    size_t end = doc.find("?>");
    prolog_start = end == std::string::npos ? doc.size() : end + 2;
  } else {
    doc = XML_DECLARATION;
    prolog_start = doc.size();
    doc.append(data + pos, length - pos);
  }
  return !prolog_has_doctype(doc, prolog_start);
}

// Sits between ACEXML and the response: joins adjacent text into one event, turns the response's
// exceptions into a failed parse and notes an error document (Response/Errors/Error,
// ErrorResponse/Error or a bare Error root) with its Code and Message.
class Feeder : public ACEXML_DefaultHandler {
 public:
  explicit Feeder(API_XML_Response& target) : target_(target) {}

  void characters(const ACEXML_Char* ch, size_t start, size_t length) override {
    if (ch != nullptr) text_.append(ch + start, length);
  }

  void startElement(const ACEXML_Char* ns, const ACEXML_Char* local_name, const ACEXML_Char* q_name,
                    ACEXML_Attributes* atts) override {
    flush_text();
    const std::string name = local_name != nullptr ? local_name : "";
    note_error_start(name);
    stack_.push_back(name);
    forward([&] { target_.startElement(ns, local_name, q_name, atts); });
  }

  void endElement(const ACEXML_Char* ns, const ACEXML_Char* local_name,
                  const ACEXML_Char* q_name) override {
    flush_text();
    if (!stack_.empty()) {
      if (error_depth_ == stack_.size()) {
        error_seen_ = true;
        error_depth_ = 0;
      }
      capture_ = nullptr;
      stack_.pop_back();
    }
    forward([&] { target_.endElement(ns, local_name, q_name); });
  }

  void endDocument() override { flush_text(); }

  // ACEXML ends the parse itself after a fatal error (cleaning up and throwing), so
  // nothing may be thrown from the handler callbacks: that would skip its clean-up.
  void fatalError(ACEXML_SAXParseException&) override { fatal_ = true; }

  ACEXML_InputSource* resolveEntity(const ACEXML_Char*, const ACEXML_Char*) override {
    return nullptr;
  }

  bool error_seen() const { return error_seen_; }
  // True when the document failed: a fatal syntax error or a response that threw.
  bool failed() const { return fatal_ || refused_; }
  const std::string& code() const { return code_; }
  const std::string& message() const { return message_; }

 private:
  void note_error_start(const std::string& name) {
    if (name == "Error" && error_depth_ == 0 && !error_seen_) {
      const bool placed = stack_.empty() || (stack_.size() == 1 && stack_[0] == "ErrorResponse") ||
                          (stack_.size() == 2 && stack_[0] == "Response" && stack_[1] == "Errors");
      if (placed) error_depth_ = stack_.size() + 1;
      return;
    }
    if (error_depth_ != 0 && stack_.size() == error_depth_) {
      if (name == "Code") capture_ = &code_;
      if (name == "Message") capture_ = &message_;
    }
  }

  void flush_text() {
    if (text_.empty()) return;
    if (capture_ != nullptr) *capture_ += text_;
    forward([&] { target_.characters(text_.c_str(), 0, text_.size()); });
    text_.clear();
  }

  // A response that throws gets no further events; the document then counts as not
  // accepted.
  template <typename F>
  void forward(F call) {
    if (refused_) return;
    try {
      call();
    } catch (const std::exception& e) {
      refused_ = true;
      ACE_DEBUG((LM_DEBUG, "XML answer of %C refused by its parser: %C\n", target_.action().c_str(),
                 e.what()));
    } catch (...) {
      refused_ = true;
    }
  }

  API_XML_Response& target_;
  std::string text_;
  std::vector<std::string> stack_;
  size_t error_depth_ = 0;  // depth of the open error element; 0 when none is open
  bool error_seen_ = false;
  bool fatal_ = false;
  bool refused_ = false;
  std::string* capture_ = nullptr;
  std::string code_;
  std::string message_;
};

}  // namespace

API_XML_Response::API_XML_Response(const char* action) : action_(action != nullptr ? action : "") {}

API_XML_Response::~API_XML_Response() = default;

bool API_XML_Response::handle_body(const char* data, size_t length) {
  reset_document();
  std::string doc;
  if (data == nullptr || !prepare_document(data, length, doc)) return false;

  Feeder feeder(*this);
  bool parsed = false;
  try {
    auto stream = std::make_unique<ACEXML_StrCharStream>();
    if (stream->open(doc.c_str(), action_.c_str()) != 0) return false;
    ACEXML_InputSource input(stream.release());
    ACEXML_Parser parser;
    parser.setContentHandler(&feeder);
    parser.setDTDHandler(&feeder);
    parser.setEntityResolver(&feeder);
    parser.setErrorHandler(&feeder);
    parser.parse(&input);
    parsed = !feeder.failed();
  } catch (const ACEXML_SAXException&) {
    parsed = false;
  } catch (...) {
    parsed = false;
  }
  if (parsed && feeder.error_seen()) set_error_document(feeder.code(), feeder.message());
  set_body_accepted(parsed);
  return parsed;
}

}  // namespace cloud

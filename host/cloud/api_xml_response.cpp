#include "cloud/api_xml_response.h"

#include <ACEXML/common/AttributesImpl.h>
#include <ace/Log_Msg.h>
#include <expat.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <string>

namespace cloud {

namespace {

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Where the document expat is given starts: past a byte-order mark, and past white space
// when an XML declaration follows it (expat wants the declaration at the very start).
size_t document_start(const char* data, size_t length) {
  size_t pos = 0;
  if (length >= 3 && std::memcmp(data, "\xEF\xBB\xBF", 3) == 0) pos = 3;
  size_t first = pos;
  while (first < length && is_space(data[first])) ++first;
  const size_t decl_length = 5;  // "<?xml"
  const bool has_declaration =
      length - first > decl_length && std::memcmp(data + first, "<?xml", decl_length) == 0 &&
      (is_space(data[first + decl_length]) || data[first + decl_length] == '?');
  return has_declaration ? first : pos;
}

// Sits between the XML parser and the response: joins adjacent text into one event, turns the response's
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
    const char* name = local_name != nullptr ? local_name : "";
    note_error_start(name);
    if (depth_ < OUTER_NAMES) outer_[depth_] = name;
    ++depth_;
    forward([&] { target_.startElement(ns, local_name, q_name, atts); });
  }

  void endElement(const ACEXML_Char* ns, const ACEXML_Char* local_name,
                  const ACEXML_Char* q_name) override {
    flush_text();
    if (depth_ > 0) {
      if (error_depth_ == depth_) {
        error_seen_ = true;
        error_depth_ = 0;
      }
      capture_ = nullptr;
      --depth_;
    }
    forward([&] { target_.endElement(ns, local_name, q_name); });
  }

  void endDocument() override { flush_text(); }

  bool error_seen() const { return error_seen_; }
  // True when the response threw on one of its events.
  bool refused() const { return refused_; }
  const std::string& code() const { return code_; }
  const std::string& message() const { return message_; }

 private:
  // Error documents place "Error" at the root, below "ErrorResponse" or below
  // "Response"/"Errors"; only the names of the two outermost open elements matter.
  void note_error_start(const char* name) {
    if (std::strcmp(name, "Error") == 0 && error_depth_ == 0 && !error_seen_) {
      const bool placed = depth_ == 0 || (depth_ == 1 && outer_[0] == "ErrorResponse") ||
                          (depth_ == 2 && outer_[0] == "Response" && outer_[1] == "Errors");
      if (placed) error_depth_ = depth_ + 1;
      return;
    }
    if (error_depth_ != 0 && depth_ == error_depth_) {
      if (std::strcmp(name, "Code") == 0) capture_ = &code_;
      if (std::strcmp(name, "Message") == 0) capture_ = &message_;
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
  static constexpr size_t OUTER_NAMES = 2;
  std::string text_;
  size_t depth_ = 0;                 // open elements
  std::string outer_[OUTER_NAMES];  // names of the outermost open elements
  size_t error_depth_ = 0;  // depth of the open error element; 0 when none is open
  bool error_seen_ = false;
  bool refused_ = false;
  std::string* capture_ = nullptr;
  std::string code_;
  std::string message_;
};

// Drives the feeder from expat, a parser that checks the whole document (also what
// follows the root element) in linear time and bounded memory for a given input. Names
// arrive as "uri SEP local SEP prefix" (namespace processing with triplets), so the
// handler sees the namespace, the local name and the name as written, as ACEXML's own
// parser would hand them over. No event is delivered from expat's callbacks once the
// parse was stopped.
class Expat_Driver {
 public:
  static constexpr XML_Char SEPARATOR = '\x01';  // never a legal character in XML 1.0

  explicit Expat_Driver(Feeder& feeder) : feeder_(feeder) {}
  ~Expat_Driver() {
    if (parser_ != nullptr) XML_ParserFree(parser_);
  }
  Expat_Driver(const Expat_Driver&) = delete;
  Expat_Driver& operator=(const Expat_Driver&) = delete;

  // True when the whole of `data` is one well-formed document without a DOCTYPE; false
  // with `why` set otherwise.
  bool parse(const char* data, size_t length, std::string& why) {
    parser_ = XML_ParserCreateNS(nullptr, SEPARATOR);
    if (parser_ == nullptr) return fail(why, "out of memory");
    XML_SetReturnNSTriplet(parser_, 1);
    XML_SetUserData(parser_, this);
    XML_SetElementHandler(parser_, &Expat_Driver::on_start, &Expat_Driver::on_end);
    XML_SetCharacterDataHandler(parser_, &Expat_Driver::on_text);
    XML_SetStartDoctypeDeclHandler(parser_, &Expat_Driver::on_doctype);
    XML_SetParamEntityParsing(parser_, XML_PARAM_ENTITY_PARSING_NEVER);
    // XML_Parse takes an int length: the body goes in slices.
    const size_t slice = size_t(1) << 20;
    size_t done = 0;
    do {
      const size_t n = std::min(slice, length - done);
      const bool last = done + n == length;
      if (XML_Parse(parser_, data + done, static_cast<int>(n), last) != XML_STATUS_OK)
        return fail(why, describe_error());
      done += n;
    } while (done < length);
    feeder_.endDocument();
    return true;
  }

 private:
  static bool fail(std::string& why, const std::string& text) {
    why = text;
    return false;
  }

  std::string describe_error() const {
    if (doctype_) return "a DOCTYPE is not accepted";
    if (out_of_memory_) return "out of memory";
    if (feeder_.refused()) return "refused by the response parser";
    return std::string(XML_ErrorString(XML_GetErrorCode(parser_))) + " at line " +
           std::to_string(XML_GetCurrentLineNumber(parser_)) + ", column " +
           std::to_string(XML_GetCurrentColumnNumber(parser_));
  }

  // The parts of a name as the handler sees them, valid until the next split into the
  // same buffers.
  struct Name {
    const char* ns;
    const char* local;
    const char* q;
  };
  // Room for the parts that are not already a NUL-terminated tail of expat's name.
  struct Name_Buffers {
    std::string ns, local, q;
  };
  // Splits "uri SEP local SEP prefix" (or "uri SEP local", or "local"). The common
  // shapes cost no allocation: the local name is expat's own tail and the buffers keep
  // their room from one element to the next.
  static Name split(const XML_Char* full, Name_Buffers& b) {
    const char* const a = std::strchr(full, SEPARATOR);
    if (a == nullptr) return {"", full, full};
    b.ns.assign(full, static_cast<size_t>(a - full));
    const char* const local = a + 1;
    const char* const p = std::strchr(local, SEPARATOR);
    if (p == nullptr) return {b.ns.c_str(), local, local};
    b.local.assign(local, static_cast<size_t>(p - local));
    b.q.assign(p + 1);
    b.q += ':';
    b.q += b.local;
    return {b.ns.c_str(), b.local.c_str(), b.q.c_str()};
  }

  // No exception may cross expat's C frames: a failing callback stops the parse.
  template <typename F>
  static void guarded(void* self, F call) {
    auto* driver = static_cast<Expat_Driver*>(self);
    try {
      call(*driver);
    } catch (...) {
      driver->out_of_memory_ = true;
    }
    if (driver->out_of_memory_ || driver->feeder_.refused()) XML_StopParser(driver->parser_, XML_FALSE);
  }

  static void on_start(void* self, const XML_Char* name, const XML_Char** atts) {
    guarded(self, [&](Expat_Driver& d) {
      const Name n = split(name, d.element_name_);
      if (atts[0] == nullptr) {
        d.feeder_.startElement(n.ns, n.local, n.q, d.no_attributes());
        return;
      }
      ACEXML_AttributesImpl attributes;
      Name_Buffers buffers;
      for (size_t i = 0; atts[i] != nullptr && atts[i + 1] != nullptr; i += 2) {
        const Name a = split(atts[i], buffers);
        attributes.addAttribute(a.ns, a.local, a.q, "CDATA", atts[i + 1]);
      }
      d.feeder_.startElement(n.ns, n.local, n.q, &attributes);
    });
  }

  static void on_end(void* self, const XML_Char* name) {
    guarded(self, [&](Expat_Driver& d) {
      const Name n = split(name, d.element_name_);
      d.feeder_.endElement(n.ns, n.local, n.q);
    });
  }

  static void on_text(void* self, const XML_Char* text, int length) {
    guarded(self, [&](Expat_Driver& d) {
      d.feeder_.characters(text, 0, static_cast<size_t>(length));
    });
  }

  // Entity declarations from a remote peer are not wanted: the document is refused.
  static void on_doctype(void* self, const XML_Char*, const XML_Char*, const XML_Char*, int) {
    auto* driver = static_cast<Expat_Driver*>(self);
    driver->doctype_ = true;
    XML_StopParser(driver->parser_, XML_FALSE);
  }

  // The empty attribute list of the elements without attributes (most of them), made
  // once; made again should a handler have added to it.
  ACEXML_Attributes* no_attributes() {
    if (!no_attributes_ || no_attributes_->getLength() != 0)
      no_attributes_.reset(new ACEXML_AttributesImpl);
    return no_attributes_.get();
  }

  Feeder& feeder_;
  XML_Parser parser_ = nullptr;
  Name_Buffers element_name_;
  std::unique_ptr<ACEXML_AttributesImpl> no_attributes_;
  bool doctype_ = false;
  bool out_of_memory_ = false;
};

}  // namespace

API_XML_Response::API_XML_Response(const char* action) : action_(action != nullptr ? action : "") {}

API_XML_Response::~API_XML_Response() = default;

bool API_XML_Response::handle_body(const char* data, size_t length) {
  reset_document();
  if (data == nullptr) return false;
  std::string why;
  bool parsed = false;
  Feeder feeder(*this);
  if (std::memchr(data, '\0', length) != nullptr) {
    why = "a NUL byte in the document";
  } else if (length == 0) {
    why = "an empty document";
  } else {
    try {
      const size_t start = document_start(data, length);
      Expat_Driver driver(feeder);
      parsed = driver.parse(data + start, length - start, why) && !feeder.refused();
    } catch (const std::bad_alloc&) {
      why = "out of memory";
    }
  }
  if (!parsed && !why.empty())
    ACE_DEBUG((LM_ERROR, "The answer to %C is not acceptable XML: %C.\n", action_.c_str(),
               why.c_str()));
  if (parsed && feeder.error_seen()) set_error_document(feeder.code(), feeder.message());
  set_body_accepted(parsed);
  return parsed;
}

}  // namespace cloud

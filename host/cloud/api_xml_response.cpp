#include "cloud/api_xml_response.h"

#include <ACEXML/common/Attributes.h>
#include <ace/Log_Msg.h>
#include <expat.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <exception>
#include <new>
#include <string>
#include <vector>

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

// Names arrive from expat as "uri SEP local SEP prefix" (namespace processing with
// triplets); SEP is never a legal character in XML 1.0.
constexpr XML_Char SEPARATOR = '\x01';

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
Name split(const XML_Char* full, Name_Buffers& b) {
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

// The attributes of one element as the handler sees them: views of expat's own texts
// (valid while its start-element callback runs), names split once. Filling it and
// reading one attribute by index cost no more than the attributes' length, whatever
// their number; lookups by name scan the list.
class Attribute_List final : public ACEXML_Attributes {
 public:
  // Takes expat's NULL-terminated name/value pairs. False, with nothing taken, for more
  // than MAX_ATTRIBUTES of them.
  bool assign(const XML_Char** atts) {
    entries_.clear();
    names_.clear();
    size_t count = 0;
    while (atts[2 * count] != nullptr && atts[2 * count + 1] != nullptr)
      if (++count > MAX_ATTRIBUTES) return false;
    entries_.reserve(count);
    for (size_t i = 0; i < count; ++i) {
      const XML_Char* const full = atts[2 * i];
      // Unqualified names, the common case, need no room of their own.
      const Name n = std::strchr(full, SEPARATOR) == nullptr
                         ? Name{"", full, full}
                         : split(full, names_.emplace_back());
      entries_.push_back({n, atts[2 * i + 1]});
    }
    return true;
  }

  size_t getLength() override { return entries_.size(); }
  int getIndex(const ACEXML_Char* q_name) override {
    return find([&](const Entry& e) { return same(e.name.q, q_name); });
  }
  int getIndex(const ACEXML_Char* uri, const ACEXML_Char* local) override {
    return find([&](const Entry& e) { return same(e.name.ns, uri) && same(e.name.local, local); });
  }
  const ACEXML_Char* getLocalName(size_t i) override { return at(i, &Name::local); }
  const ACEXML_Char* getQName(size_t i) override { return at(i, &Name::q); }
  const ACEXML_Char* getURI(size_t i) override { return at(i, &Name::ns); }
  const ACEXML_Char* getType(size_t i) override { return i < entries_.size() ? CDATA : nullptr; }
  const ACEXML_Char* getType(const ACEXML_Char* q_name) override {
    return getType(index(getIndex(q_name)));
  }
  const ACEXML_Char* getType(const ACEXML_Char* uri, const ACEXML_Char* local) override {
    return getType(index(getIndex(uri, local)));
  }
  const ACEXML_Char* getValue(size_t i) override {
    return i < entries_.size() ? entries_[i].value : nullptr;
  }
  const ACEXML_Char* getValue(const ACEXML_Char* q_name) override {
    return getValue(index(getIndex(q_name)));
  }
  const ACEXML_Char* getValue(const ACEXML_Char* uri, const ACEXML_Char* local) override {
    return getValue(index(getIndex(uri, local)));
  }

 private:
  struct Entry {
    Name name;
    const XML_Char* value;
  };
  static constexpr const ACEXML_Char* CDATA = "CDATA";

  static bool same(const char* a, const char* b) {
    return b != nullptr && std::strcmp(a, b) == 0;
  }
  // An index that no entry has for -1.
  size_t index(int i) const { return i < 0 ? entries_.size() : static_cast<size_t>(i); }
  template <typename Match>
  int find(Match match) const {
    for (size_t i = 0; i < entries_.size(); ++i)
      if (match(entries_[i])) return static_cast<int>(i);
    return -1;
  }
  const ACEXML_Char* at(size_t i, const char* Name::*part) const {
    return i < entries_.size() ? entries_[i].name.*part : nullptr;
  }

  std::vector<Entry> entries_;
  std::deque<Name_Buffers> names_;  // room of the qualified names; never moved once made
};

// Drives the feeder from expat, a parser that checks the whole document (also what
// follows the root element) in linear time. The handler sees the namespace, the local
// name and the name as written, as ACEXML's own parser would hand them over. The bounds
// of depth and attributes keep what expat holds for open elements small. No event is
// delivered from expat's callbacks once the parse was stopped.
class Expat_Driver {
 public:
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
    if (!beyond_bounds_.empty()) return beyond_bounds_;
    if (out_of_memory_) return "out of memory";
    if (feeder_.refused()) return "refused by the response parser";
    return std::string(XML_ErrorString(XML_GetErrorCode(parser_))) + " at line " +
           std::to_string(XML_GetCurrentLineNumber(parser_)) + ", column " +
           std::to_string(XML_GetCurrentColumnNumber(parser_));
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
      if (++d.depth_ > MAX_ELEMENT_DEPTH) return d.stop("elements nested deeper than " +
                                                        std::to_string(MAX_ELEMENT_DEPTH));
      if (!d.attributes_.assign(atts)) return d.stop("an element with more than " +
                                                     std::to_string(MAX_ATTRIBUTES) +
                                                     " attributes");
      const Name n = split(name, d.element_name_);
      d.feeder_.startElement(n.ns, n.local, n.q, &d.attributes_);
    });
  }

  static void on_end(void* self, const XML_Char* name) {
    guarded(self, [&](Expat_Driver& d) {
      --d.depth_;
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

  // An answer beyond the bounds stops the parse.
  void stop(const std::string& why) {
    beyond_bounds_ = why;
    XML_StopParser(parser_, XML_FALSE);
  }

  Feeder& feeder_;
  XML_Parser parser_ = nullptr;
  Name_Buffers element_name_;
  Attribute_List attributes_;
  size_t depth_ = 0;  // open elements
  std::string beyond_bounds_;  // why the answer went beyond a bound; empty when it did not
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
  set_body_accepted(parsed, why);
  return parsed;
}

}  // namespace cloud

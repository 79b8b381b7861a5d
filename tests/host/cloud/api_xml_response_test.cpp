// Feeding XML answers to a response parser: what the parsers may rely on (one text event
// per element, no DOCTYPE, tolerated BOM and missing declaration) and how error
// documents and broken bodies are judged.
#include "cloud/api_xml_response.h"

#include "support/log_capture.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

// Records the events as " <name", " text", " >name"; attributes as " @qname=value", the
// last one also looked up by its names.
class Recorder : public cloud::API_XML_Response {
 public:
  Recorder() : cloud::API_XML_Response("DescribeThings") {}
  void startElement(const ACEXML_Char*, const ACEXML_Char* name, const ACEXML_Char*,
                    ACEXML_Attributes* atts) override {
    events += std::string(" <") + name;
    if (throw_on == name) throw std::runtime_error("parser gave up");
    const size_t n = atts->getLength();
    for (size_t i = 0; i < n; ++i)
      events += std::string(" @") + atts->getQName(i) + "=" + atts->getValue(i);
    if (n > 0 && (atts->getIndex(atts->getQName(n - 1)) != int(n - 1) ||
                  atts->getValue(atts->getURI(n - 1), atts->getLocalName(n - 1)) !=
                      std::string(atts->getValue(n - 1))))
      events += "(not found by name)";
    if (atts->getValue("absent") != nullptr || atts->getValue(n) != nullptr)
      events += "(phantom attribute)";
  }
  void characters(const ACEXML_Char* ch, size_t start, size_t length) override {
    events += " " + std::string(ch + start, length);
  }
  void endElement(const ACEXML_Char*, const ACEXML_Char* name, const ACEXML_Char*) override {
    events += std::string(" >") + name;
  }
  std::string events, throw_on;
};

// The events of an accepted body; "refused" when the body is refused.
std::string feed(const std::string& body) {
  Recorder r;
  const bool accepted = r.handle_body(body);
  EXPECT_EQ(r.body_accepted(), accepted);
  EXPECT_FALSE(r.error_document());
  return accepted ? r.events.substr(1) : "refused";
}

TEST(ApiXmlResponse, FeedsDocuments) {
  const std::string decl = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>", bom = "\xEF\xBB\xBF";
  const std::string no = "refused";
  const std::pair<std::string, std::string> cases[] = {
      {decl + "<R><a>x</a></R>", "<R <a x >a >R"},
      {bom + decl + "<R/>", "<R >R"}, {bom + "<R/>", "<R >R"}, {"\n  " + decl + "<R/>", "<R >R"},
      {bom + "\r\n " + decl + "<R><a>x</a></R>", "<R <a x >a >R"},
      {decl + "<R xmlns=\"http://ec2.amazonaws.com/doc/2016-11-15/\">"
              "<p:a xmlns:p=\"urn:p\">v</p:a></R>", "<R <a v >a >R"},
      // One text event per element: entities, CDATA and comments joined.
      {"<R><a>x &amp; <![CDATA[<y>]]> &#65;&#x42;</a></R>", "<R <a x & <y> AB >a >R"},
      {"<R><a>one<!-- c -->two</a></R>", "<R <a onetwo >a >R"},
      {"<R><a>{\"k\": [1, \"&lt;\"]}</a></R>", "<R <a {\"k\": [1, \"<\"]} >a >R"},
      {"<R><a>\xE4\xB8\xAD</a></R>", "<R <a \xE4\xB8\xAD >a >R"},
      {"<R a=\"1\" p:b=\"&lt;2\" xmlns:p=\"urn:p\"><a c=''/></R>",
       "<R @a=1 @p:b=<2 <a @c= >a >R"},
      {"<R/><!-- c --><?pi x?>\n", "<R >R"},
      {decl + "<!DOCTYPE R [<!ENTITY e \"boom\">]><R>&e;</R>", no},
      {decl + "<!-- c --><!DOCTYPE R><R/>", no}, {"<!DOCTYPE a SYSTEM \"file:///etc/x\"><a/>", no},
      {decl + "<R><a>x</a>", no}, {"<R><a>x</b></R>", no}, {"", no}, {decl, no},
      {"Internal Server Error", no}, {"<R>&bogus;</R>", no}, {"<R/><S/>", no},
      {std::string("<R>a\0b</R>", 10), no},
      // Hostile answers once crashed, hung or grew memory without bound.
      {decl + "<a><?" "?></a>", no}, {"<a><!--", no}, {"<a><![CDATA[x", no}, {"<a><?pi x", no},
      {"<a/><!--", no}};
  for (const auto& c : cases) EXPECT_EQ(feed(c.first), c.second) << c.first;
}

// Answers beyond the bounds of nesting and attributes are refused, saying which bound,
// before they cost time or memory; up to the bounds they are read.
TEST(ApiXmlResponse, BoundsOfAnAnswer) {
  const auto nested = [](size_t depth) {
    std::string x;
    for (size_t i = 0; i < depth; ++i) x += "<a>";
    for (size_t i = 0; i < depth; ++i) x += "</a>";
    return x;
  };
  const auto attributes = [](size_t count) {
    std::string x = "<R xmlns:p='urn:p'";
    for (size_t i = 0; i < count; ++i) x += (i % 2 ? " p:a" : " a") + std::to_string(i) + "='v'";
    return x + "/>";
  };
  const size_t depth = cloud::MAX_ELEMENT_DEPTH, most = cloud::MAX_ATTRIBUTES;
  const struct { const char* name; std::string body; const char* refusal; } cases[] = {
      {"deepest", nested(depth), ""},
      {"one deeper", nested(depth + 1), "elements nested deeper than 1024"},
      {"a million unclosed", nested(1u << 20).substr(0, 3u << 20),
       "elements nested deeper than 1024"},
      {"most attributes", attributes(most), ""},
      {"one attribute more", attributes(most + 1), "an element with more than 16384 attributes"},
      {"a hundred thousand attributes", attributes(100000),
       "an element with more than 16384 attributes"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::Log_Capture log;
    Recorder r;
    EXPECT_EQ(r.handle_body(c.body), *c.refusal == '\0');
    EXPECT_EQ(log.text(), *c.refusal ? "The answer to DescribeThings is not acceptable XML: " +
                                           std::string(c.refusal) + ".\n" : "");
  }
}

// An error document names its code (not a nested one) and message; an Error element
// inside a result is data. The state of one body never leaks into the next.
TEST(ApiXmlResponse, RecognisesErrorDocuments) {
  // body, "code|message" ("" not an error)
  const std::pair<std::string, std::string> cases[] = {
      {"<Response><Errors><Error><Code>InvalidInstanceID.NotFound</Code><Message>The instance "
       "'i-1' does not exist</Message></Error></Errors><RequestID>r-1</RequestID></Response>",
       "InvalidInstanceID.NotFound|The instance 'i-1' does not exist"},
      {"<ErrorResponse><Error><Code>AuthFailure</Code><Message>bad &amp; sad</Message></Error>"
       "</ErrorResponse>", "AuthFailure|bad & sad"},
      {"<Error><Code>X</Code></Error>", "X|"},
      {"<DescribeThingsResponse><Error><Code>X</Code></Error></DescribeThingsResponse>", ""},
      {"<Response><Errors><Error><Detail><Code>inner</Code></Detail><Code>outer</Code></Error>"
       "</Errors></Response>", "outer|"},
      {"<DescribeThingsResponse><return>true</return></DescribeThingsResponse>", ""}};
  Recorder r;  // one parser for all: nothing carries over
  for (const auto& c : cases) {
    ASSERT_TRUE(r.handle_body(c.first)) << c.first;
    EXPECT_EQ(r.error_document() ? r.error_code() + "|" + r.error_message() : "", c.second);
    EXPECT_EQ(r.success(), c.second.empty()) << c.first;
  }
  EXPECT_FALSE(r.handle_body("<R>") || r.success());
  r.throw_on = "a";  // a parser that gives up fails the body
  EXPECT_FALSE(r.handle_body("<R><a>x</a><b/></R>") || r.success());
  EXPECT_EQ(r.events.substr(r.events.size() - 3), " <a");
}

// The verdict of a send once an answer arrived: every stage must hold, and a parser's
// own no fails even a clean 200. A failed send always says why.
TEST(DeliverAnswer, Verdicts) {
  using R = cloud::API_Response_Base;
  const std::string error = "<Response><Errors><Error><Code>C</Code></Error></Errors></Response>";
  const std::string error_message = "<Error><Code>C</Code><Message>m</Message></Error>";
  const struct {
    long status;
    std::string body;
    R::Outcome outcome;
    bool fed;  // to the parser
    std::string failure;
  } cases[] = {
      {200, "<R/>", R::OUTCOME_OK, true, ""},
      {204, "<R/>", R::OUTCOME_OK, true, ""},
      {299, "<R/>", R::OUTCOME_OK, true, ""},
      {300, "<R/>", R::OUTCOME_HTTP_ERROR, true, "the cloud answered HTTP 300"},
      {200, "<R>", R::OUTCOME_BAD_DOCUMENT, true,
       "the cloud's answer is not acceptable XML: no element found at line 1, column 3"},
      {200, "", R::OUTCOME_BAD_DOCUMENT, false,
       "the cloud's answer is not acceptable XML: an empty document"},
      {200, error, R::OUTCOME_ERROR_DOCUMENT, true, "the cloud refused the request: C"},
      {200, error_message, R::OUTCOME_ERROR_DOCUMENT, true, "the cloud refused the request: C: m"},
      {400, error, R::OUTCOME_HTTP_ERROR, true, "the cloud answered HTTP 400 (C)"},
      {500, "<R/>", R::OUTCOME_HTTP_ERROR, true, "the cloud answered HTTP 500"},
      {503, "Service Unavailable", R::OUTCOME_HTTP_ERROR, false, "the cloud answered HTTP 503"},
      {301, "<R/>", R::OUTCOME_HTTP_ERROR, true, "the cloud answered HTTP 301"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.status) + c.body);
    Recorder r;
    EXPECT_EQ(cloud::deliver_answer(r, c.status, c.body), c.outcome == R::OUTCOME_OK);
    EXPECT_EQ(r.outcome(), c.outcome);
    EXPECT_EQ(r.http_status(), c.status);
    EXPECT_EQ(!r.events.empty(), c.fed);
    EXPECT_EQ(r.failure(), c.failure);
  }
  struct Never : Recorder {
    bool success() const override { return false; }
  } never;
  EXPECT_FALSE(cloud::deliver_answer(never, 200, "<R/>"));
  EXPECT_EQ(never.outcome(), R::OUTCOME_REJECTED);
  EXPECT_EQ(never.failure(), "the cloud's answer does not report success");
  Recorder giving_up;
  giving_up.throw_on = "R";
  EXPECT_FALSE(cloud::deliver_answer(giving_up, 200, "<R/>"));
  EXPECT_EQ(giving_up.failure(),
            "the cloud's answer is not acceptable XML: refused by the response parser");
  EXPECT_FALSE(cloud::deliver_transport_failure(never));
  EXPECT_EQ(never.failure(), "the cloud could not be reached");
}

}  // namespace

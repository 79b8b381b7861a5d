// Feeding XML answers to a response parser: what the parsers may rely on (one text event
// per element, no DOCTYPE, tolerated BOM and missing declaration) and how error
// documents and broken bodies are judged.
#include "cloud/api_xml_response.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

// Records the events as "<name", "text", ">name".
class Recorder : public cloud::API_XML_Response {
 public:
  Recorder() : cloud::API_XML_Response("DescribeThings") {}

  void startElement(const ACEXML_Char*, const ACEXML_Char* local_name, const ACEXML_Char*,
                    ACEXML_Attributes*) override {
    events.push_back(std::string("<") + local_name);
    if (throw_on == local_name) throw std::runtime_error("parser gave up");
  }
  void characters(const ACEXML_Char* ch, size_t start, size_t length) override {
    events.push_back(std::string(ch + start, length));
  }
  void endElement(const ACEXML_Char*, const ACEXML_Char* local_name, const ACEXML_Char*) override {
    events.push_back(std::string(">") + local_name);
  }

  std::vector<std::string> events;
  std::string throw_on;
};

using Events = std::vector<std::string>;

struct Feed_Case {
  const char* name;
  std::string body;
  bool accepted;
  Events events;  // checked when accepted
};

TEST(ApiXmlResponse, FeedsDocuments) {
  const std::string decl = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
  const Feed_Case cases[] = {
      {"plain", decl + "<R><a>x</a></R>", true, {"<R", "<a", "x", ">a", ">R"}},
      {"no declaration", "<R><a>x</a></R>", true, {"<R", "<a", "x", ">a", ">R"}},
      {"bom", "\xEF\xBB\xBF" + decl + "<R/>", true, {"<R", ">R"}},
      {"bom without declaration", "\xEF\xBB\xBF<R/>", true, {"<R", ">R"}},
      {"white space before declaration", "\n  " + decl + "<R/>", true, {"<R", ">R"}},
      {"namespaces",
       decl + "<R xmlns=\"http://ec2.amazonaws.com/doc/2016-11-15/\">"
              "<p:a xmlns:p=\"urn:p\">v</p:a></R>",
       true,
       {"<R", "<a", "v", ">a", ">R"}},
      {"entities and cdata joined",
       "<R><a>x &amp; <![CDATA[<y>]]> &#65;&#x42;</a></R>",
       true,
       {"<R", "<a", "x & <y> AB", ">a", ">R"}},
      {"comment inside text joined",
       "<R><a>one<!-- c -->two</a></R>",
       true,
       {"<R", "<a", "onetwo", ">a", ">R"}},
      {"json text",
       "<R><a>{\"k\": [1, \"&lt;\"]}</a></R>",
       true,
       {"<R", "<a", "{\"k\": [1, \"<\"]}", ">a", ">R"}},
      {"utf-8 text", "<R><a>\xE4\xB8\xAD</a></R>", true, {"<R", "<a", "\xE4\xB8\xAD", ">a", ">R"}},
      {"doctype", decl + "<!DOCTYPE R [<!ENTITY e \"boom\">]><R>&e;</R>", false, {}},
      {"doctype without declaration", "<!DOCTYPE R><R/>", false, {}},
      {"doctype after comment", decl + "<!-- c --><!DOCTYPE R><R/>", false, {}},
      {"truncated", decl + "<R><a>x</a>", false, {}},
      {"mismatched", "<R><a>x</b></R>", false, {}},
      {"empty", "", false, {}},
      {"only declaration", decl, false, {}},
      {"not xml", "Internal Server Error", false, {}},
      {"html", "<html><body>oops</b></html>", false, {}},
      {"undeclared entity", "<R>&bogus;</R>", false, {}},
      {"second root", "<R/><S/>", false, {}},
      {"comment and pi after the root", "<R/><!-- c --><?pi x?>\n", true, {"<R", ">R"}},
      {"nul byte", std::string("<R>a\0b</R>", 10), false, {}},
      // Hostile answers once crashed, hung or grew memory without bound.
      {"pi without a name", decl + "<a><?" "?></a>", false, {}},
      {"unterminated comment", "<a><!--", false, {}},
      {"unterminated cdata", "<a><![CDATA[x", false, {}},
      {"unterminated pi", "<a><?pi x", false, {}},
      {"unterminated comment after the root", "<a/><!--", false, {}},
      {"external entity", "<!DOCTYPE a SYSTEM \"file:///etc/passwd\"><a/>", false, {}},
  };
  for (const auto& c : cases) {
    Recorder r;
    EXPECT_EQ(r.handle_body(c.body), c.accepted) << c.name;
    EXPECT_EQ(r.body_accepted(), c.accepted) << c.name;
    EXPECT_FALSE(r.error_document()) << c.name;
    if (c.accepted) {
      EXPECT_EQ(r.events, c.events) << c.name;
    }
  }
}

TEST(ApiXmlResponse, RecognisesErrorDocuments) {
  struct Error_Case {
    const char* name;
    std::string body;
    bool error;
    std::string code, message;
  } cases[] = {
      {"ec2 form",
       "<Response><Errors><Error><Code>InvalidInstanceID.NotFound</Code>"
       "<Message>The instance 'i-1' does not exist</Message></Error></Errors>"
       "<RequestID>r-1</RequestID></Response>",
       true, "InvalidInstanceID.NotFound", "The instance 'i-1' does not exist"},
      {"error response form",
       "<ErrorResponse><Error><Code>AuthFailure</Code><Message>bad &amp; sad</Message>"
       "</Error></ErrorResponse>",
       true, "AuthFailure", "bad & sad"},
      {"bare error", "<Error><Code>X</Code></Error>", true, "X", ""},
      {"error element inside a result is data",
       "<DescribeThingsResponse><Error><Code>X</Code></Error></DescribeThingsResponse>", false, "",
       ""},
      {"nested code is not the code",
       "<Response><Errors><Error><Detail><Code>inner</Code></Detail><Code>outer</Code>"
       "</Error></Errors></Response>",
       true, "outer", ""},
      {"normal answer", "<DescribeThingsResponse><return>true</return></DescribeThingsResponse>",
       false, "", ""},
  };
  for (const auto& c : cases) {
    Recorder r;
    ASSERT_TRUE(r.handle_body(c.body)) << c.name;
    EXPECT_EQ(r.error_document(), c.error) << c.name;
    EXPECT_EQ(r.error_code(), c.code) << c.name;
    EXPECT_EQ(r.error_message(), c.message) << c.name;
    EXPECT_EQ(r.success(), !c.error) << c.name;
  }
}

TEST(ApiXmlResponse, ParserExceptionFailsTheBody) {
  Recorder r;
  r.throw_on = "a";
  EXPECT_FALSE(r.handle_body("<R><a>x</a><b/></R>"));
  EXPECT_EQ(r.events, (Events{"<R", "<a"}));
  EXPECT_FALSE(r.success());
}

TEST(ApiXmlResponse, StateOfOneBodyDoesNotLeakIntoTheNext) {
  Recorder r;
  ASSERT_TRUE(r.handle_body("<Response><Errors><Error><Code>X</Code></Error></Errors></Response>"));
  EXPECT_TRUE(r.error_document());
  ASSERT_TRUE(r.handle_body("<R/>"));
  EXPECT_FALSE(r.error_document());
  EXPECT_EQ(r.error_code(), "");
  EXPECT_TRUE(r.success());
  EXPECT_FALSE(r.handle_body("<R>"));
  EXPECT_FALSE(r.success());
}

// The verdict of a send once an answer arrived: every stage must hold.
TEST(DeliverAnswer, Verdicts) {
  using R = cloud::API_Response_Base;
  struct Verdict_Case {
    long status;
    std::string body;
    bool result;
    R::Outcome outcome;
    bool fed;
  } cases[] = {
      {200, "<R/>", true, R::OUTCOME_OK, true},
      {204, "<R/>", true, R::OUTCOME_OK, true},
      {200, "<R>", false, R::OUTCOME_BAD_DOCUMENT, true},
      {200, "", false, R::OUTCOME_BAD_DOCUMENT, false},
      {200, "<Response><Errors><Error><Code>C</Code></Error></Errors></Response>", false,
       R::OUTCOME_ERROR_DOCUMENT, true},
      {400, "<Response><Errors><Error><Code>C</Code></Error></Errors></Response>", false,
       R::OUTCOME_HTTP_ERROR, true},
      {500, "<R/>", false, R::OUTCOME_HTTP_ERROR, true},
      {301, "<R/>", false, R::OUTCOME_HTTP_ERROR, true},
  };
  for (const auto& c : cases) {
    Recorder r;
    EXPECT_EQ(cloud::deliver_answer(r, c.status, c.body), c.result) << c.status << c.body;
    EXPECT_EQ(r.outcome(), c.outcome) << c.status << c.body;
    EXPECT_EQ(r.http_status(), c.status);
    EXPECT_EQ(!r.events.empty(), c.fed) << c.status << c.body;
  }
  Recorder failed;
  EXPECT_FALSE(cloud::deliver_transport_failure(failed));
  EXPECT_EQ(failed.outcome(), R::OUTCOME_TRANSPORT_FAILED);
  EXPECT_TRUE(failed.events.empty());
}

// A parser whose own verdict says no makes the send fail even on a clean 200.
TEST(DeliverAnswer, ParserVerdictCounts) {
  struct Never : Recorder {
    bool success() const override { return false; }
  } never;
  EXPECT_FALSE(cloud::deliver_answer(never, 200, "<R/>"));
  EXPECT_EQ(never.outcome(), cloud::API_Response_Base::OUTCOME_REJECTED);
}

}  // namespace

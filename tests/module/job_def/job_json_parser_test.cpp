#include "job_def/job_json_parser.h"

#include "job/object_creator_impl_t.h"
#include "job_engine/job_document.h"
#include "job_engine/object_creator.h"
#include "job_engine/yajl_handler.h"
#include "json/json_load.h"
#include "module/job_def/test_params.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

namespace {

using test::Test_Params;
using Parser = YAJL_Parser<Test_Params>;
using Source_Creator = Object_Creator_Impl_T<Object_Creator_T<YAJL_Handler>, Job_Source_Parser<Test_Params>>;
using Options_Creator = Object_Creator_Impl_T<Object_Creator_T<YAJL_Handler>, Job_JSON_Parser<Test_Params>>;

TEST(Job_Source_Parser, CapturesOnlyTopLevelIdAndNameStrings) {
  struct Case {
    const char* doc;
    const char* id;
    const char* name;
  };
  const Case cases[] = {
      {R"({"id":"s-1","name":"n-1","entries":[{"id":"i-1","name":"x"}]})", "s-1", "n-1"},
      {R"([{"id":"a"},"b"])", "", ""},
      {R"({"id":7,"name":"n"})", "", "n"},
      {R"({"x":{"id":"deep"},"id":"top"})", "top", ""},
      {R"({"x":{"name":"deep"},"y":["name"],"z":"name"})", "", ""},
      {R"({"id":"first","id":"second"})", "second", ""},
  };
  Source_Creator creator;
  for (const Case& c : cases) {
    std::string error;
    const Parser::pointer result = parse_job_document<Parser>(creator, c.doc, &error);
    ASSERT_NE(result.get(), nullptr) << c.doc << ": " << error;
    EXPECT_EQ(result->id(), c.id) << c.doc;
    EXPECT_EQ(result->name(), c.name) << c.doc;
    EXPECT_EQ(result->value(), JSON_Load(c.doc)) << c.doc;
  }
}

TEST(Job_JSON_Parser, OptionsParserKeepsTheDocumentAndCapturesNothing) {
  Options_Creator creator;
  const char doc[] = R"({"id":"s-1","name":"n-1","parallel_vms":4,"exclusion":["a*"]})";
  const Parser::pointer result = parse_job_document<Parser>(creator, doc);
  ASSERT_NE(result.get(), nullptr);
  EXPECT_EQ(result->id(), "");
  EXPECT_EQ(result->name(), "");
  EXPECT_EQ(result->value(), JSON_Load(doc));
}

TEST(Job_JSON_Parser, ResultOutlivesTheParser) {
  Source_Creator creator;
  YAJL_Handler* const handler = creator.create();
  ASSERT_NE(handler, nullptr);
  const std::string doc = R"({"id":"s-9","entries":[1,2,3]})";
  ASSERT_TRUE(yajl_parse_document(*handler, doc.data(), doc.size()));
  Parser::pointer result = dynamic_cast<Parser*>(handler)->result();
  const long shared_with_parser = result.count();
  creator.destroy(handler);
  EXPECT_EQ(result.count(), shared_with_parser - 1);
  EXPECT_EQ(result->id(), "s-9");
  EXPECT_EQ(result->value(), JSON_Load(doc));
}

TEST(Job_JSON_Parser, AParserWithoutResultFailsTheParse) {
  errno = 0;
  Job_Source_Parser<test::Unmakeable_Params> parser;
  EXPECT_EQ(errno, ENOMEM);
  EXPECT_EQ(parser.result().get(), nullptr);
  std::string error;
  const std::string doc = R"({"id":"s-1"})";
  EXPECT_FALSE(yajl_parse_document(parser, doc.data(), doc.size(), &error));
  EXPECT_FALSE(error.empty());
}

TEST(Job_JSON_Parser, NumbersPassedAsValuesReachTheDocument) {
  Job_JSON_Parser<Test_Params> parser;
  ASSERT_TRUE(parser.handle_start_array_i());
  ASSERT_TRUE(parser.handle_integer_i(-3));
  ASSERT_TRUE(parser.handle_double_i(2.5));
  ASSERT_TRUE(parser.handle_number_i("18446744073709551615", 20));
  ASSERT_TRUE(parser.handle_end_array_i());
  EXPECT_EQ(parser.result()->value(), JSON_Load("[-3,2.5,18446744073709551615]"));
}

TEST(Parse_Job_Document, RefusesBadDocumentsAndForeignParsers) {
  Source_Creator creator;
  std::string error;
  EXPECT_EQ(parse_job_document<Parser>(creator, R"({"id":)", &error).get(), nullptr);
  EXPECT_FALSE(error.empty());

  using Other = YAJL_Parser<test::Unmakeable_Params>;
  error.clear();
  EXPECT_EQ(parse_job_document<Other>(creator, R"({"id":"x"})", &error).get(), nullptr);
  EXPECT_EQ(error, "the creator makes parsers of another kind");
}

}  // namespace

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
using test::Unmakeable_Params;
using Parser = YAJL_Parser<Test_Params>;
template <template <typename> class Made, typename T = Test_Params>
using Creator = Object_Creator_Impl_T<Object_Creator_T<YAJL_Handler>, Made<T>>;

// The source parser picks only the top-level "id" and "name" strings, the options parser
// nothing; both keep the whole document.
TEST(Job_Source_Parser, CapturesOnlyTopLevelIdAndNameStrings) {
  const struct { const char* doc; const char* id_and_name; } cases[] = {
      {R"({"id":"s-1","name":"n-1","entries":[{"id":"i-1","name":"x"}]})", "s-1/n-1"},
      {R"([{"id":"a"},"b"])", "/"},
      {R"({"id":7,"name":"n","n":[-3,2.5,18446744073709551615]})", "/n"},
      {R"({"x":{"id":"deep"},"id":"top"})", "top/"},
      {R"({"x":{"name":"deep"},"y":["name"],"z":"name"})", "/"},
      {R"({"id":"first","id":"second"})", "second/"}};
  Creator<Job_Source_Parser> source;
  Creator<Job_JSON_Parser> options;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.doc);
    const Parser::pointer src = parse_job_document<Parser>(source, c.doc);
    const Parser::pointer opts = parse_job_document<Parser>(options, c.doc);
    ASSERT_TRUE(src.get() != nullptr && opts.get() != nullptr);
    EXPECT_EQ(src->id() + "/" + src->name(), c.id_and_name);
    EXPECT_EQ(opts->id() + "/" + opts->name(), "/");
    EXPECT_TRUE(src->value() == JSON_Load(c.doc) && opts->value() == JSON_Load(c.doc));
  }
}

// Each parser the creator makes is its own, and its result outlives it.
TEST(Object_Creator_Impl_T, MakesIndependentParsersWhoseResultsOutliveThem) {
  Creator<Job_Source_Parser> creator;
  YAJL_Handler* const handlers[] = {creator.create(), creator.create()};
  const std::string docs[] = {R"({"id":"one","name":"first"})", R"({"id":"two","entries":[]})"};
  Parser::pointer results[2];
  for (int i : {0, 1}) {
    ASSERT_NE(dynamic_cast<Parser*>(handlers[i]), nullptr);
    ASSERT_TRUE(yajl_parse_document(*handlers[i], docs[i].data(), docs[i].size()));
    results[i] = dynamic_cast<Parser*>(handlers[i])->result();
  }
  for (int i : {0, 1}) creator.destroy(handlers[i]);
  EXPECT_EQ(results[0]->name() + "/" + results[1]->name(), "first/");
  for (int i : {0, 1})  // ACE counts the other holders: none are left
    EXPECT_TRUE(results[i].count() == 0 && results[i]->value() == JSON_Load(docs[i]));
}

// No result without a well-formed document, a parser of the asked kind and memory for
// the result.
TEST(Parse_Job_Document, Refusals) {
  Creator<Job_Source_Parser> creator;
  Creator<Job_Source_Parser, Unmakeable_Params> unmakeable;
  std::string bad_doc, foreign, no_memory;
  EXPECT_EQ(parse_job_document<Parser>(creator, R"({"id":)", &bad_doc).get(), nullptr);
  using Other_Parser = YAJL_Parser<Unmakeable_Params>;
  const char* const doc = R"({"id":"x"})";
  EXPECT_EQ(parse_job_document<Other_Parser>(creator, doc, &foreign).get(), nullptr);
  errno = 0;
  EXPECT_EQ(parse_job_document<Other_Parser>(unmakeable, doc, &no_memory).get(), nullptr);
  EXPECT_EQ(errno, ENOMEM);
  EXPECT_FALSE(bad_doc.empty() || no_memory.empty());
  EXPECT_EQ(foreign, "the creator makes parsers of another kind");
}

}  // namespace

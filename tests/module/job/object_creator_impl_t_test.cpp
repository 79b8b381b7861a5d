#include "job/object_creator_impl_t.h"

#include "job_def/job_json_parser.h"
#include "job_engine/object_creator.h"
#include "job_engine/yajl_handler.h"
#include "json/json_load.h"
#include "module/job_def/test_params.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using Base = Object_Creator_T<YAJL_Handler>;
using Parser = YAJL_Parser<test::Test_Params>;
using Source_Creator = Object_Creator_Impl_T<Base, Job_Source_Parser<test::Test_Params>>;

bool parse(YAJL_Handler& handler, const std::string& doc) {
  return yajl_parse_document(handler, doc.data(), doc.size());
}

TEST(Object_Creator_Impl_T, MakesIndependentObjects) {
  Source_Creator creator;
  Base& base = creator;
  YAJL_Handler* const first = base.create();
  YAJL_Handler* const second = base.create();
  ASSERT_NE(dynamic_cast<Parser*>(first), nullptr);
  ASSERT_NE(dynamic_cast<Parser*>(second), nullptr);

  // A half-parsed first document does not disturb the second one, nor its destruction.
  EXPECT_TRUE(parse(*first, R"({"id":"one","name":"first"})"));
  const Parser::pointer first_result = dynamic_cast<Parser*>(first)->result();
  base.destroy(first);
  EXPECT_TRUE(parse(*second, R"({"id":"two","entries":[]})"));
  const Parser::pointer second_result = dynamic_cast<Parser*>(second)->result();
  base.destroy(second);

  EXPECT_EQ(first_result->name(), "first");
  EXPECT_EQ(second_result->name(), "");
  EXPECT_EQ(second_result->value(), JSON_Load(R"({"id":"two","entries":[]})"));
}

}  // namespace

#include "tavrocloud/job/job_parameters.h"

#include "job/object_creator_impl_t.h"
#include "job_def/job_json_parser.h"
#include "job_engine/job_document.h"
#include "job_engine/object_creator.h"
#include "json/json_load.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using tavrocloud::Job_Parameters;
using Parser = YAJL_Parser<Job_Parameters>;
using Creator = Object_Creator_T<YAJL_Handler>;

// Either document parser keeps the whole document; what it writes parses back the same.
TEST(Job_Parameters, GenerateRoundTripsWhatTheParsersBuilt) {
  Object_Creator_Impl_T<Creator, Job_Source_Parser<Job_Parameters>> sources;
  Object_Creator_Impl_T<Creator, Job_JSON_Parser<Job_Parameters>> options;
  const std::string docs[] = {
      R"({"id":"c-1","name":"cloud one","entries":[{"id":"i-1","type":"Instance",)"
      R"("volumes":[{"vol_id":"v-1"}]}],"n":18446744073709551615,"r":0.25,"note":"caf\u00e9","x":null})",
      "[]",
  };
  for (const std::string& doc : docs)
    for (Creator* creator : {static_cast<Creator*>(&sources), static_cast<Creator*>(&options)}) {
      SCOPED_TRACE(doc);
      const Parser::pointer first = parse_job_document<Parser>(*creator, doc);
      ASSERT_NE(first.get(), nullptr);
      EXPECT_EQ(first->value(), JSON_Load(doc));
      const Parser::pointer second = parse_job_document<Parser>(*creator, first->to_json());
      ASSERT_NE(second.get(), nullptr);
      EXPECT_EQ(second->value(), first->value());
      EXPECT_EQ(second->id() + second->name(), first->id() + first->name());
    }
  EXPECT_EQ(Job_Parameters().to_json(), "null");
}

}  // namespace

#include "tavrocloud/job/job_parameters.h"

#include "job/object_creator_impl_t.h"
#include "job_def/job_json_parser.h"
#include "job_engine/job_definition.h"
#include "job_engine/job_document.h"
#include "job_engine/object_creator.h"
#include "json/json_load.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using tavrocloud::Job_Parameters;
using Parser = YAJL_Parser<Job_Parameters>;
using Source_Creator =
    Object_Creator_Impl_T<Object_Creator_T<YAJL_Handler>, Job_Source_Parser<Job_Parameters>>;
using Options_Creator =
    Object_Creator_Impl_T<Object_Creator_T<YAJL_Handler>, Job_JSON_Parser<Job_Parameters>>;

TEST(Job_Parameters, AnUnfilledObjectWritesNull) {
  const Job_Parameters params;
  EXPECT_TRUE(params.value().is_null());
  EXPECT_EQ(params.to_json(), "null");
}

TEST(Job_Parameters, GenerateRoundTripsWhatTheParsersBuilt) {
  const std::string docs[] = {
      R"({"id":"c-1","name":"cloud one","entries":[{"id":"i-1","name":"web","type":"Instance",)"
      R"("volumes":[{"vol_id":"v-1"}]}],"retry_entries":["i-1"]})",
      R"({"parallel_vms":4,"exclusion":["tmp-*"],"storage_reserved_bytes":18446744073709551615,)"
      R"("restart_vm":true,"ratio":0.25,"note":"caf\u00e9","nothing":null})",
      R"([])",
  };
  Source_Creator sources;
  Options_Creator options;
  for (const std::string& doc : docs) {
    for (Object_Creator_T<YAJL_Handler>* creator :
         {static_cast<Object_Creator_T<YAJL_Handler>*>(&sources),
          static_cast<Object_Creator_T<YAJL_Handler>*>(&options)}) {
      const Parser::pointer first = parse_job_document<Parser>(*creator, doc);
      ASSERT_NE(first.get(), nullptr) << doc;
      EXPECT_EQ(first->value(), JSON_Load(doc)) << doc;

      const std::string written = first->to_json();
      ASSERT_FALSE(written.empty()) << doc;
      const Parser::pointer second = parse_job_document<Parser>(*creator, written);
      ASSERT_NE(second.get(), nullptr) << written;
      EXPECT_EQ(second->value(), first->value()) << written;
      EXPECT_EQ(second->id(), first->id());
      EXPECT_EQ(second->name(), first->name());
    }
  }
}

TEST(Job_Parameters, ADefinitionHandsTheParsedObjectToExecutors) {
  Source_Creator sources;
  const Parser::pointer src = parse_job_document<Parser>(sources, R"({"id":"c-7","name":"n"})");
  ASSERT_NE(src.get(), nullptr);
  Job_Definition def;
  def.set_source(src);
  const Job_Parameters* const seen = dynamic_cast<Job_Parameters*>(def.source());
  ASSERT_EQ(seen, src.get());
  EXPECT_EQ(seen->id(), "c-7");
  EXPECT_EQ(def.options(), nullptr);
}

}  // namespace

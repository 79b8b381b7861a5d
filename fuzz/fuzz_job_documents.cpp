// Fuzz target: one JSON text read as a job's source and options document (the module's
// job document parsers over the host's yajl feeding and JSON_Parser), written back out,
// and loaded whole with JSON_Load.
#include "fuzz_support.h"
#include "job_def/job_json_parser.h"
#include "job_engine/json_parser.h"
#include "json/json_dump.h"
#include "json/json_load.h"
#include "tavrocloud/job/job_parameters.h"

#include <yajl/yajl_gen.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

template <typename Parser>
void parse_job_document(const char* text, size_t size) {
  Parser parser;
  if (!yajl_parse_document(parser, text, size)) return;
  typename Parser::pointer result = parser.result();
  if (result.get() == nullptr) return;
  yajl_gen gen = yajl_gen_alloc(nullptr);
  if (gen == nullptr) return;
  result->generate(gen);
  yajl_gen_free(gen);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::silence_log();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* text = reinterpret_cast<const char*>(data);
  parse_job_document<Job_Source_Parser<tavrocloud::Job_Parameters>>(text, size);
  parse_job_document<Job_JSON_Parser<tavrocloud::Job_Parameters>>(text, size);
  json_spirit::Value followed;
  JSON_Parser plain;
  plain.result(&followed);
  yajl_parse_document(plain, text, size);
  json_spirit::Value loaded;
  if (JSON_Load(text, size, loaded)) json_spirit::JSON_Dump(loaded);
  return 0;
}

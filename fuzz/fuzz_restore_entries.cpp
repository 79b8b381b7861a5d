// Fuzz target: one JSON text read as a restore job's source: every element of its
// "entries" array (or the text itself) loaded as a restore entry and described again,
// as the restore executor and the instance restore handler do.
#include "fuzz_support.h"
#include "json/json_load.h"
#include "json/value.h"
#include "tavrocloud/job/restore_source_entry.h"

#include <cstddef>
#include <cstdint>

namespace {

void load_entry(const json_spirit::Value& value) {
  tavrocloud::Restore_Source_Entry entry;
  if (entry.load(value)) entry.dump();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::silence_log();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  json_spirit::Value doc;
  if (!JSON_Load(reinterpret_cast<const char*>(data), size, doc)) return 0;
  load_entry(doc);
  if (doc.type() != json_spirit::obj_type) return 0;
  const json_spirit::Value* entries = json_spirit::object_get_value(doc.get_obj(), "entries");
  if (entries == nullptr || entries->type() != json_spirit::array_type) return 0;
  for (const json_spirit::Value& e : entries->get_array()) load_entry(e);
  return 0;
}

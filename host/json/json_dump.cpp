// Value to JSON text through the yajl generator.
#include "json/json_dump.h"

#include "json/json_generator.h"

namespace json_spirit {

std::string JSON_Dump(const Value& v, bool pretty) {
  return generate_text(pretty, [&v](yajl_gen gen) { return yajl_gen_value(gen, v); });
}

}  // namespace json_spirit

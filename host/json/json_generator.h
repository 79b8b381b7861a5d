// Writing values and host records to a yajl generator. yajl_gen_value writes a
// json_spirit::Value; JSON_Generator is the base of every host record that can write
// itself as JSON (backup-set records, job parameters), so the host can store or forward
// any of them through one interface.
#ifndef HOST_JSON_JSON_GENERATOR_H
#define HOST_JSON_JSON_GENERATOR_H

#include "json/value.h"

#include <yajl/yajl_gen.h>

#include <functional>
#include <string>

namespace json_spirit {

// Writes `v` as one JSON value to `gen` (object members in key order; secret strings as
// strings; integers beyond INT64_MAX as unsigned decimals; reals in their shortest
// round-trip form). Returns yajl_gen_status_ok, or the first failing status:
// yajl_gen_invalid_number for a NaN or infinite real, yajl_gen_invalid_string for a
// string the generator refuses (invalid UTF-8 with yajl_gen_validate_utf8 on), or the
// generator's own state errors. A failure leaves the generator part-way through.
yajl_gen_status yajl_gen_value(yajl_gen gen, const Value& v);

// Runs `write` on a fresh generator (UTF-8 validated; compact, or indented by four spaces
// when `pretty`) and returns the text it wrote, without a trailing newline; "" when
// `write` returns anything but yajl_gen_status_ok or the generator cannot be made.
std::string generate_text(bool pretty, const std::function<yajl_gen_status(yajl_gen)>& write);

}  // namespace json_spirit

using json_spirit::yajl_gen_value;

// Base of the host's records that write themselves as JSON. It has no data of its own,
// so copying or assigning a derived record copies only the record's own members.
//
// A derived class implements generate(): write exactly one complete JSON value (usually
// an object) to the generator, typically member by member with yajl_gen_string and
// yajl_gen_value, and return yajl_gen_status_ok or the first failing status. It must not
// reset, clear or free the generator: the caller owns it and may be writing a larger
// document around this record.
class JSON_Generator {
 public:
  JSON_Generator() = default;
  JSON_Generator(const JSON_Generator&) = default;
  JSON_Generator& operator=(const JSON_Generator&) = default;
  virtual ~JSON_Generator();

  virtual yajl_gen_status generate(yajl_gen gen) const = 0;

  // The record as JSON text through generate() (compact unless `pretty`); "" when
  // generate() fails.
  std::string to_json(bool pretty = false) const;
};

#endif  // HOST_JSON_JSON_GENERATOR_H

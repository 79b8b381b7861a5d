// Values and records to yajl generators.
#include "json/json_generator.h"

#include <charconv>
#include <cmath>
#include <memory>

namespace json_spirit {

namespace {

struct Gen_Deleter {
  void operator()(yajl_gen_t* g) const { yajl_gen_free(g); }
};

yajl_gen_status gen_text(yajl_gen gen, const char* s, size_t len) {
  return yajl_gen_string(gen, reinterpret_cast<const unsigned char*>(s), len);
}

// The shortest text that reads back as the same double, kept recognisable as a real.
yajl_gen_status gen_real(yajl_gen gen, double d) {
  if (!std::isfinite(d)) return yajl_gen_invalid_number;
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf - 2, d);
  std::string text(buf, res.ptr);
  if (text.find_first_of(".e") == std::string::npos) text += ".0";
  return yajl_gen_number(gen, text.data(), text.size());
}

yajl_gen_status gen_integer(yajl_gen gen, const Value& v) {
  if (!v.is_uint64()) return yajl_gen_integer(gen, v.get_int64());
  const std::string text = std::to_string(v.get_uint64());
  return yajl_gen_number(gen, text.data(), text.size());
}

yajl_gen_status gen_object(yajl_gen gen, const Object& obj) {
  yajl_gen_status st = yajl_gen_map_open(gen);
  for (auto it = obj.begin(); st == yajl_gen_status_ok && it != obj.end(); ++it) {
    st = gen_text(gen, it->first.data(), it->first.size());
    if (st == yajl_gen_status_ok) st = yajl_gen_value(gen, it->second);
  }
  return st == yajl_gen_status_ok ? yajl_gen_map_close(gen) : st;
}

yajl_gen_status gen_array(yajl_gen gen, const Array& arr) {
  yajl_gen_status st = yajl_gen_array_open(gen);
  for (auto it = arr.begin(); st == yajl_gen_status_ok && it != arr.end(); ++it)
    st = yajl_gen_value(gen, *it);
  return st == yajl_gen_status_ok ? yajl_gen_array_close(gen) : st;
}

}  // namespace

yajl_gen_status yajl_gen_value(yajl_gen gen, const Value& v) {
  switch (v.type()) {
    case obj_type: return gen_object(gen, v.get_obj());
    case array_type: return gen_array(gen, v.get_array());
    case str_type: return gen_text(gen, v.get_str().data(), v.get_str().size());
    case secure_str_type:
      return gen_text(gen, v.get_secure_str().data(), v.get_secure_str().size());
    case bool_type: return yajl_gen_bool(gen, v.get_bool() ? 1 : 0);
    case int_type: return gen_integer(gen, v);
    case real_type: return gen_real(gen, v.get_real());
    case null_type: return yajl_gen_null(gen);
  }
  return yajl_gen_in_error_state;
}

std::string generate_text(bool pretty, const std::function<yajl_gen_status(yajl_gen)>& write) {
  std::unique_ptr<yajl_gen_t, Gen_Deleter> gen(yajl_gen_alloc(nullptr));
  if (!gen) return std::string();
  yajl_gen_config(gen.get(), yajl_gen_validate_utf8, 1);
  if (pretty) {
    yajl_gen_config(gen.get(), yajl_gen_beautify, 1);
    yajl_gen_config(gen.get(), yajl_gen_indent_string, "    ");
  }
  if (write(gen.get()) != yajl_gen_status_ok) return std::string();
  const unsigned char* buf = nullptr;
  size_t len = 0;
  if (yajl_gen_get_buf(gen.get(), &buf, &len) != yajl_gen_status_ok) return std::string();
  std::string text(reinterpret_cast<const char*>(buf), len);
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

}  // namespace json_spirit

JSON_Generator::~JSON_Generator() = default;

std::string JSON_Generator::to_json(bool pretty) const {
  return json_spirit::generate_text(pretty, [this](yajl_gen gen) { return generate(gen); });
}

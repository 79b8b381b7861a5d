#include "job_engine/job_source.h"

namespace {

yajl_gen_status gen_string(yajl_gen gen, const std::string& s) {
  return yajl_gen_string(gen, reinterpret_cast<const unsigned char*>(s.data()), s.size());
}

}  // namespace

Job_Source::Job_Source() = default;

Job_Source::~Job_Source() = default;

yajl_gen_status Job_Source::generate(yajl_gen gen) const {
  yajl_gen_status st = yajl_gen_map_open(gen);
  if (st == yajl_gen_status_ok) st = gen_string(gen, "id");
  if (st == yajl_gen_status_ok) st = gen_string(gen, id_);
  if (st == yajl_gen_status_ok) st = gen_string(gen, "name");
  if (st == yajl_gen_status_ok) st = gen_string(gen, name_);
  if (st == yajl_gen_status_ok) st = yajl_gen_map_close(gen);
  return st;
}

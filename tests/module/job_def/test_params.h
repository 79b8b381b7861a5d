// A job parameter class for the job template tests: a Job_Source with the whole parsed
// document, as a module's parameter class has. A variant whose allocation always fails
// lets the tests reach the out-of-memory paths.
#ifndef TESTS_MODULE_JOB_DEF_TEST_PARAMS_H
#define TESTS_MODULE_JOB_DEF_TEST_PARAMS_H

#include "job_engine/job_source.h"
#include "json/json_generator.h"
#include "json/value.h"

#include <cstddef>
#include <new>

namespace test {

class Test_Params : public Job_Source {
 public:
  json_spirit::Value& value() { return value_; }
  const json_spirit::Value& value() const { return value_; }
  yajl_gen_status generate(yajl_gen gen) const override { return yajl_gen_value(gen, value_); }

 private:
  json_spirit::Value value_;
};

class Unmakeable_Params : public Test_Params {
 public:
  static void* operator new(std::size_t, const std::nothrow_t&) noexcept { return nullptr; }
  static void operator delete(void* p) noexcept { ::operator delete(p); }
};

}  // namespace test

#endif  // TESTS_MODULE_JOB_DEF_TEST_PARAMS_H

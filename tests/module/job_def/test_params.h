// Helpers for the job template tests: a job parameter class holding the whole parsed
// document, as a module's parameter class has (a variant whose allocation always fails
// reaches the out-of-memory paths), and a printer of a job's events.
#ifndef TESTS_MODULE_JOB_DEF_TEST_PARAMS_H
#define TESTS_MODULE_JOB_DEF_TEST_PARAMS_H

#include "job_engine/job.h"
#include "job_engine/job_source.h"
#include "json/json_generator.h"
#include "json/value.h"

#include <cstddef>
#include <new>
#include <string>

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

// The job's events in order, e.g. "start,failure:-1".
inline std::string event_text(const Job& job) {
  static const char* const names[] = {"start", "success", "paused", "canceled", "failure"};
  std::string text;
  for (const Job_Event_Record& e : job.events())
    text += (text.empty() ? "" : ",") + std::string(names[e.kind]) +
            (e.kind == Job_Event_Record::FAILURE ? ":" + std::to_string(e.code) : "");
  return text;
}

}  // namespace test

#endif  // TESTS_MODULE_JOB_DEF_TEST_PARAMS_H

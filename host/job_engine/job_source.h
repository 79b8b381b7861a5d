// The parsed source (or options) document of a job definition: what a job protects, as
// the source parser made it. The host keeps it in the definition; a module derives its
// own parameter class from it (adding the whole document) and its executors read it.
#ifndef HOST_JOB_ENGINE_JOB_SOURCE_H
#define HOST_JOB_ENGINE_JOB_SOURCE_H

#include "json/json_generator.h"

#include <cstddef>
#include <string>

class Job_Source : public JSON_Generator {
 public:
  Job_Source();
  Job_Source(const Job_Source&) = default;
  Job_Source& operator=(const Job_Source&) = default;
  ~Job_Source() override;

  // Identifier and name of the protected resource (the document's top-level "id" and
  // "name"); empty until set.
  const std::string& id() const { return id_; }
  const std::string& name() const { return name_; }
  void set_id(const char* text, size_t length) { id_.assign(text, length); }
  void set_id(const std::string& id) { id_ = id; }
  void set_name(const char* text, size_t length) { name_.assign(text, length); }
  void set_name(const std::string& name) { name_ = name; }

  // Writes {"id": ..., "name": ...}; derived classes write their whole document.
  yajl_gen_status generate(yajl_gen gen) const override;

 private:
  std::string id_;
  std::string name_;
};

#endif  // HOST_JOB_ENGINE_JOB_SOURCE_H

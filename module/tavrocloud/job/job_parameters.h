// The parsed source or options document of a cloud backup or restore job, as the job
// document parsers build it and the executors read it: the whole JSON document, plus
// the source's id and name from Job_Source.
#ifndef TAVROCLOUD_JOB_JOB_PARAMETERS_H
#define TAVROCLOUD_JOB_JOB_PARAMETERS_H

#include "job_engine/job_source.h"
#include "json/value.h"

#include <yajl/yajl_gen.h>

namespace tavrocloud {

class Job_Parameters : public Job_Source {
 public:
  Job_Parameters();
  ~Job_Parameters() override;

  // Writes the document (null until a parser filled it) to `gen`; yajl_gen_status_ok or
  // the generator's first failing status.
  yajl_gen_status generate(yajl_gen gen) const override;

  // The document, for the parser to fill and the executors to read.
  json_spirit::Value& value() { return src_; }
  const json_spirit::Value& value() const { return src_; }

 private:
  json_spirit::Value src_;
};

}  // namespace tavrocloud

#endif  // TAVROCLOUD_JOB_JOB_PARAMETERS_H

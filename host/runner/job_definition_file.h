// The job definition files of `quillon3 backup` and `quillon3 restore` (docs/definitions.md
// describes them): one JSON object naming the job, its cloud account, its target pool,
// retry and rate settings, scripts, and the source and options documents that the
// module's parsers read. Every key is checked strictly, so a mistyped key is reported
// instead of silently taking its default.
#ifndef RUNNER_JOB_DEFINITION_FILE_H
#define RUNNER_JOB_DEFINITION_FILE_H

#include <string>

#include "job_engine/job_definition.h"
#include "runner/module_link.h"

namespace runner {

struct Definition_File {
  Job_Kind kind = Job_Kind::BACKUP;
  // Everything but the source and options, which only the module's parsers may build.
  Job_Definition_var def;
  std::string source;   // JSON text of the "source" object
  std::string options;  // JSON text of the "options" object ("{}" when absent)
};

// Reads and checks the definition at `path` for a job of `kind`: the JSON, every key and
// its type (in the source and options documents, every key at every level and the type
// and range of every value the module reads, the members it requires, each backup
// entry's type, a new instance's type and cluster), the account (registered in the host
// home) and the pool (registered, by uuid or name; also a restore source's "pool_uuid").
// True with `out` filled; false with a one-line `error` naming the file and the first
// fault (an unknown key with the known key it is close to, a value with what it must be).
bool load_definition_file(const std::string& path, Job_Kind kind, Definition_File& out,
                          std::string& error);

}  // namespace runner

#endif  // RUNNER_JOB_DEFINITION_FILE_H

// Job alerts: failures the console must show, raised by executors and handlers with a
// level, a numeric alert id and the alert's arguments. The job records each one and the
// alert is logged.
#ifndef HOST_JOB_ENGINE_JOB_ALERT_H
#define HOST_JOB_ENGINE_JOB_ALERT_H

#include "json/value.h"

class Job;

struct Error_ID {
  enum Level { LEVEL_INFO = 1, LEVEL_WARNING = 3, LEVEL_ERROR = 7 };
};

// Records the alert in `job`: `level` (Error_ID::Level), `alert_id`, `extra`, `args`
// (a JSON array of the alert's arguments, or null when it has none) and `flag`. 0; -1
// for a null job.
int write_job_alert(Job& job, int level, unsigned long alert_id, unsigned long extra,
                    const json_spirit::Value& args, int flag);
int write_job_alert(Job* job, int level, unsigned long alert_id, unsigned long extra,
                    const json_spirit::Value& args, int flag);

#endif  // HOST_JOB_ENGINE_JOB_ALERT_H

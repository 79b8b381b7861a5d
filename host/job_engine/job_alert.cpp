#include "job_engine/job_alert.h"

#include "job_engine/job.h"
#include "json/json_dump.h"

#include <ace/Log_Msg.h>

int write_job_alert(Job& job, int level, unsigned long alert_id, unsigned long extra,
                    const json_spirit::Value& args, int flag) {
  const std::string text = args.is_null() ? std::string("null") : JSON_Dump(args);
  ACE_ERROR((level >= Error_ID::LEVEL_ERROR ? LM_ERROR : LM_WARNING,
             "Job %s raised alert %Q (level %d): %s\n", job.definition()->id().c_str(),
             static_cast<ACE_UINT64>(alert_id), level, text.c_str()));
  job.record_alert({level, alert_id, extra, args, flag});
  return 0;
}

int write_job_alert(Job* job, int level, unsigned long alert_id, unsigned long extra,
                    const json_spirit::Value& args, int flag) {
  if (job == nullptr) return -1;
  return write_job_alert(*job, level, alert_id, extra, args, flag);
}

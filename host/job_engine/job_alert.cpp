#include "job_engine/job_alert.h"

#include "job_engine/job.h"
#include "job_engine/job_alert_catalog.h"
#include "json/json_dump.h"

#include <ace/Log_Msg.h>

#include <utility>

int write_job_alert(Job& job, int level, unsigned long alert_id, unsigned long extra,
                    const json_spirit::Value& args, int flag) {
  const std::string raw = args.is_null() ? std::string("null") : JSON_Dump(args);
  std::string text = job_alert_text(alert_id, args);
  ACE_ERROR((level >= Error_ID::LEVEL_ERROR ? LM_ERROR : LM_WARNING,
             "Job %s raised alert %Q (level %d): %s: %s\n", job.definition()->id().c_str(),
             static_cast<ACE_UINT64>(alert_id), level, raw.c_str(), text.c_str()));
  job.record_alert({level, alert_id, extra, args, flag, std::move(text)});
  return 0;
}

int write_job_alert(Job* job, int level, unsigned long alert_id, unsigned long extra,
                    const json_spirit::Value& args, int flag) {
  if (job == nullptr) return -1;
  return write_job_alert(*job, level, alert_id, extra, args, flag);
}

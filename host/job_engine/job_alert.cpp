#include "job_engine/job_alert.h"

#include "job_engine/job.h"
#include "job_engine/job_alert_catalog.h"
#include "json/json_dump.h"

#include <ace/Log_Msg.h>

#include <cstring>
#include <utility>

namespace {

// The request library's words for a request nothing answered (host/cloud/aws_client.cpp).
const char UNANSWERED[] = "the cloud could not be reached";

// The alert's text. A failed login logs why just before it raises its alert, on the same
// thread, and ACE keeps each thread's last message: when that says nothing answered, the
// alert says so rather than blaming the job's account.
std::string alert_text(unsigned long alert_id, const json_spirit::Value& args) {
  if (alert_id == LOGIN_ALERT_ID && std::strstr(ACE_LOG_MSG->msg(), UNANSWERED) != nullptr)
    return LOGIN_UNANSWERED_ALERT_TEXT;
  return job_alert_text(alert_id, args);
}

}  // namespace

int write_job_alert(Job& job, int level, unsigned long alert_id, unsigned long extra,
                    const json_spirit::Value& args, int flag) {
  const std::string raw = args.is_null() ? std::string("null") : JSON_Dump(args);
  std::string text = alert_text(alert_id, args);
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

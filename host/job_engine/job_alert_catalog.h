// The alert catalogue: the text the console shows for each job alert id the cloud jobs
// raise, with the alert's arguments put in. write_job_alert logs the text with the alert
// and keeps it in the job's alert record, so the runner can print it as it stands.
#ifndef HOST_JOB_ENGINE_JOB_ALERT_CATALOG_H
#define HOST_JOB_ENGINE_JOB_ALERT_CATALOG_H

#include "json/value.h"

#include <string>

// The text of alert `alert_id` with its arguments in place: "{N}" stands for the N-th
// argument (from 1) of `args` (a JSON array; strings as they are, other values as JSON);
// a missing argument reads "?". An id the catalogue does not know gives "Alert <id>"
// followed by the arguments as JSON, when there are any.
std::string job_alert_text(unsigned long alert_id, const json_spirit::Value& args);

// The login alert's id, and its text when the cloud never answered the login: the keys
// were not tried, so the account is not to blame.
constexpr unsigned long LOGIN_ALERT_ID = 1;
extern const char LOGIN_UNANSWERED_ALERT_TEXT[];

#endif  // HOST_JOB_ENGINE_JOB_ALERT_CATALOG_H

#include "job_engine/job_alert_catalog.h"

#include "json/json_dump.h"

#include <cstddef>

namespace {

struct Alert_Text {
  unsigned long id;
  const char* format;
};

const Alert_Text CATALOGUE[] = {
    {LOGIN_ALERT_ID, "Failed to log in to the cloud with the job's account."},
    {2, "Failed to read the catalog records of instance {1}."},
    {3, "Failed to record the backup of instance {1} in the catalog."},
    {4, "Failed to power off instance {1} before its backup."},
    {5, "Failed to power on instance {1} after its backup."},
    {6, "Storage {1} lacks the reserved free space."},
    {7, "Source entry {2} (type {3}, id {1}) was not found or could not be listed; it was "
        "skipped."},
    {8, "Failed to create a temporary snapshot of instance {1}."},
    {9, "Failed to create the instance restored from {1}."},
    {10, "{1} instance(s) of the job were not backed up."},
    {11, "Instance {1} has no name and was skipped."},
    {20, "Instance {1}, named in the source, was skipped: {3}."},
};

const char* find_format(unsigned long id) {
  for (const Alert_Text& t : CATALOGUE)
    if (t.id == id) return t.format;
  return nullptr;
}

std::string argument(const json_spirit::Value& args, size_t n) {
  if (args.type() != json_spirit::array_type || n == 0 || n > args.get_array().size())
    return "?";
  const json_spirit::Value& v = args.get_array()[n - 1];
  return v.type() == json_spirit::str_type ? v.get_str() : JSON_Dump(v);
}

}  // namespace

const char LOGIN_UNANSWERED_ALERT_TEXT[] = "Failed to log in: cannot reach the cloud.";

std::string job_alert_text(unsigned long alert_id, const json_spirit::Value& args) {
  const char* format = find_format(alert_id);
  if (format == nullptr) {
    std::string text = "Alert " + std::to_string(alert_id);
    if (!args.is_null()) text += " " + JSON_Dump(args);
    return text;
  }
  std::string text;
  for (const char* p = format; *p != '\0'; ++p) {
    if (p[0] == '{' && p[1] >= '1' && p[1] <= '9' && p[2] == '}') {
      text += argument(args, static_cast<size_t>(p[1] - '0'));
      p += 2;
    } else {
      text += *p;
    }
  }
  return text;
}

// Time points of the catalog. A backup set is filed under the second its backup
// started, in UTC, written "%Y%m%d%H%M%S" (14 digits, "20240501120000"): the same stamp
// the backup puts into its image names. The restore names the backup it wants by that
// text (a restore entry's "backup_start_time", the view key "timepoint"); the ISO forms
// "2024-05-01T12:00:00Z" and "2024-05-01 12:00:00" (UTC) name the same second.
#ifndef CATALOG_CATALOG_TIME_H
#define CATALOG_CATALOG_TIME_H

#include <ctime>
#include <string>

// `t` as a catalog time point; "" when it does not convert (before year 0 or after 9999).
std::string catalog_timepoint(time_t t);

// Reads a time point in one of the three forms into `out` (seconds since the epoch);
// false, `out` untouched, for any other text or a date or time that does not exist
// (month 13, February 30, hour 24).
bool parse_catalog_timepoint(const std::string& text, time_t& out);

// `t` as "YYYY-MM-DD HH:MM:SS" in UTC, for listings; "-" for 0.
std::string catalog_time_text(time_t t);

#endif  // CATALOG_CATALOG_TIME_H

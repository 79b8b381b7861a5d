#include "catalog/catalog_time.h"

#include "yolt/posix_time_format.h"

#include <cctype>
#include <cstring>

namespace {

// Reads exactly `n` decimal digits at `s`.
bool read_digits(const char* s, size_t n, int& out) {
  int v = 0;
  for (size_t i = 0; i < n; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(s[i]))) return false;
    v = v * 10 + (s[i] - '0');
  }
  out = v;
  return true;
}

// Days from 1970-01-01 to the given civil date (proleptic Gregorian calendar).
long days_from_civil(long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long>(doe) - 719468;
}

bool leap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int days_in_month(int y, int m) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && leap(y) ? 29 : days[m - 1];
}

struct Fields {
  int year, month, day, hour, minute, second;
};

// The positions of the six fields in each accepted form, and the separators.
bool split(const std::string& text, Fields& f) {
  const char* s = text.c_str();
  if (text.size() == 14) {
    return read_digits(s, 4, f.year) && read_digits(s + 4, 2, f.month) &&
           read_digits(s + 6, 2, f.day) && read_digits(s + 8, 2, f.hour) &&
           read_digits(s + 10, 2, f.minute) && read_digits(s + 12, 2, f.second);
  }
  const bool iso = text.size() == 20 && s[10] == 'T' && s[19] == 'Z';
  const bool plain = text.size() == 19 && s[10] == ' ';
  if (!iso && !plain) return false;
  if (s[4] != '-' || s[7] != '-' || s[13] != ':' || s[16] != ':') return false;
  return read_digits(s, 4, f.year) && read_digits(s + 5, 2, f.month) &&
         read_digits(s + 8, 2, f.day) && read_digits(s + 11, 2, f.hour) &&
         read_digits(s + 14, 2, f.minute) && read_digits(s + 17, 2, f.second);
}

}  // namespace

std::string catalog_timepoint(time_t t) {
  const POSIX_Time_Format<32, false> text(t, "%Y%m%d%H%M%S");
  return std::strlen(text.c_str()) == 14 ? text.c_str() : "";
}

bool parse_catalog_timepoint(const std::string& text, time_t& out) {
  Fields f{};
  if (!split(text, f)) return false;
  if (f.month < 1 || f.month > 12 || f.day < 1 || f.day > days_in_month(f.year, f.month) ||
      f.hour > 23 || f.minute > 59 || f.second > 59) {
    return false;
  }
  const long days = days_from_civil(f.year, static_cast<unsigned>(f.month),
                                    static_cast<unsigned>(f.day));
  out = static_cast<time_t>(days * 86400L + f.hour * 3600L + f.minute * 60L + f.second);
  return true;
}

std::string catalog_time_text(time_t t) {
  if (t == 0) return "-";
  return POSIX_Time_Format<32, false>(t, "%Y-%m-%d %H:%M:%S").c_str();
}

#include "runtime/http_head.h"

namespace {

// Indexed by Http_Head.
const char* const NAMES[] = {
    "Accept",           "Accept-Charset",      "Accept-Encoding",     "Accept-Language",
    "Accept-Ranges",    "Age",                 "Allow",               "Authorization",
    "Cache-Control",    "Connection",          "Content-Disposition", "Content-Encoding",
    "Content-Language", "Content-Length",      "Content-Location",    "Content-MD5",
    "Content-Range",    "Content-Type",        "Cookie",              "Date",
    "ETag",             "Expect",              "Expires",             "From",
    "Host",             "If-Match",            "If-Modified-Since",   "If-None-Match",
    "If-Range",         "If-Unmodified-Since", "Last-Modified",       "Location",
    "Max-Forwards",     "Pragma",              "Proxy-Authenticate",  "Proxy-Authorization",
    "Range",            "Referer",             "Retry-After",         "Server",
    "Set-Cookie",       "TE",                  "Trailer",             "Transfer-Encoding",
    "Upgrade",          "User-Agent",          "Vary",                "Via",
    "WWW-Authenticate", "X-Access-Key",        "X-Request-Id",
};

static_assert(sizeof NAMES / sizeof NAMES[0] == HTTP_HEAD_COUNT, "one name per header id");

}  // namespace

const char* http_head_string(int id) {
  if (id < 0 || id >= HTTP_HEAD_COUNT) return nullptr;
  return NAMES[id];
}

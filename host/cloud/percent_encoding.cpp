#include "cloud/percent_encoding.h"

namespace cloud {

namespace {

bool is_unreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~';
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::string percent_encode(const std::string& text, bool keep_slash) {
  static const char HEX[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size() * 3);
  for (char ch : text) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (is_unreserved(c) || (keep_slash && c == '/')) {
      out += ch;
    } else {
      out += '%';
      out += HEX[c >> 4];
      out += HEX[c & 0x0f];
    }
  }
  return out;
}

std::string percent_decode(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      int hi = hex_value(text[i + 1]);
      int lo = hex_value(text[i + 2]);
      if (hi >= 0 && lo >= 0) {
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

std::string form_encode(const API_Request_Base::Parameters& parameters) {
  std::string body;
  for (const auto& p : parameters) {
    if (!body.empty()) body += '&';
    body += percent_encode(p.first);
    body += '=';
    body += percent_encode(p.second);
  }
  return body;
}

}  // namespace cloud

#include "tavrocloud/common/tavrocloud_login.h"

#include <ace/Log_Msg.h>

#include <exception>
#include <string>

#include "json_spirit/assign.h"
#include "json_spirit/extract.h"

namespace tavrocloud {

namespace {

// The text of a key member, copied straight into a wiping string (no plain copy on the
// way). A secure-string value is what operator>> writes, so it is taken as well.
secure_string key_text(const json_spirit::Object& obj, const char* name) {
  const json_spirit::Value& v = json_spirit::object_get_or_throw(obj, name);
  if (v.type() == json_spirit::secure_str_type) return v.get_secure_str();
  if (v.type() != json_spirit::str_type) {
    throw json_spirit::Error(std::string("JSON member '") + name + "' is not a string");
  }
  const std::string& text = v.get_str();
  return secure_string(text.data(), text.size());
}

uint16_t checked_port(unsigned long port) {
  if (port < 1 || port > 65535) {
    throw json_spirit::Error("JSON member 'port' is out of range 1..65535: " +
                             std::to_string(port));
  }
  return static_cast<uint16_t>(port);
}

}  // namespace

Login::Login() : port(0), ssl(false) {}

Login::Login(const std::string& host_, uint16_t port_, bool ssl_, const std::string& locale_,
             const secure_string& access_key_, const secure_string& security_key_)
    : host(host_),
      port(port_),
      ssl(ssl_),
      locale(locale_),
      access_key(access_key_),
      security_key(security_key_) {}

bool Login::operator<<(const json_spirit::Object& obj) {
  try {
    unsigned long wide_port = 0;
    json_spirit::extract_or_throw(obj)("host", host)("port", wide_port);
    port = checked_port(wide_port);
    json_spirit::extract_or_throw(obj)("ssl", ssl)("locale", locale);
    secure_string access = key_text(obj, "access_key");
    secure_string security = key_text(obj, "security_key");
    access_key.swap(access);
    security_key.swap(security);
  } catch (const std::exception& e) {
    ACE_ERROR((LM_ERROR, "Failed to parse Login: %s\n", e.what()));
    return false;
  }
  return true;
}

void Login::operator>>(json_spirit::Object& obj) const {
  json_spirit::insert(obj)("host", host)("port", static_cast<int>(port))("ssl", ssl)(
      "locale", locale)("access_key", access_key)("security_key", security_key);
}

}  // namespace tavrocloud

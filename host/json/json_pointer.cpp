// JSON Pointer parsing and lookup.
#include "json/json_pointer.h"

#include <ace/Log_Msg.h>

#include <cstdlib>

namespace json_spirit {

namespace {

// Splits "/a/b~1c" into its unescaped tokens; false on a bad escape.
bool split(const char* p, std::vector<std::string>& tokens) {
  tokens.clear();
  if (*p == '\0') return true;
  if (*p != '/') return false;
  for (++p, tokens.emplace_back(); *p != '\0'; ++p) {
    if (*p == '/') {
      tokens.emplace_back();
    } else if (*p == '~') {
      if (p[1] == '0') {
        tokens.back() += '~';
      } else if (p[1] == '1') {
        tokens.back() += '/';
      } else {
        return false;
      }
      ++p;
    } else {
      tokens.back() += *p;
    }
  }
  return true;
}

// An array index token: "0", or digits without a leading zero, that fits size_t.
bool parse_index(const std::string& t, size_t& index) {
  if (t.empty() || t.size() > 19) return false;
  if (t.size() > 1 && t[0] == '0') return false;
  for (char c : t) {
    if (c < '0' || c > '9') return false;
  }
  index = static_cast<size_t>(std::strtoull(t.c_str(), nullptr, 10));
  return true;
}

template <typename V>
V* lookup(V& root, const std::vector<std::string>& tokens) {
  V* cur = &root;
  for (const std::string& t : tokens) {
    if (cur->type() == obj_type) {
      auto& obj = cur->get_obj();
      auto it = obj.find(t);
      if (it == obj.end()) return nullptr;
      cur = &it->second;
    } else if (cur->type() == array_type) {
      auto& arr = cur->get_array();
      size_t i = 0;
      if (!parse_index(t, i) || i >= arr.size()) return nullptr;
      cur = &arr[i];
    } else {
      return nullptr;
    }
  }
  return cur;
}

}  // namespace

bool JSON_Pointer::path(const char* path, bool log) {
  valid_ = path != nullptr && split(path, tokens_);
  if (!valid_) {
    tokens_.clear();
    path_buf_.clear();
    if (log || log_)
      ACE_ERROR((LM_ERROR, "Invalid JSON Pointer path '%s'.\n", path ? path : "(null)"));
    return false;
  }
  path_buf_ = path;
  return true;
}

const Value* JSON_Pointer::get(const Value& root) const {
  return valid_ ? lookup(root, tokens_) : nullptr;
}

Value* JSON_Pointer::get(Value& root) const { return valid_ ? lookup(root, tokens_) : nullptr; }

bool JSON_Pointer::get(const Value& root, const Value*& out) const {
  const Value* v = get(root);
  if (v == nullptr) return false;
  out = v;
  return true;
}

bool JSON_Pointer::get(const Value& root, const Object*& out) const {
  const Value* v = get(root);
  if (v == nullptr || v->type() != obj_type) return false;
  out = &v->get_obj();
  return true;
}

bool JSON_Pointer::get(const Value& root, const Array*& out) const {
  const Value* v = get(root);
  if (v == nullptr || v->type() != array_type) return false;
  out = &v->get_array();
  return true;
}

bool JSON_Pointer::get(const Value& root, const std::string*& out) const {
  const Value* v = get(root);
  if (v == nullptr || v->type() != str_type) return false;
  out = &v->get_str();
  return true;
}

bool JSON_Pointer::get(Value& root, Value*& out) const {
  Value* v = get(root);
  if (v == nullptr) return false;
  out = v;
  return true;
}

bool JSON_Pointer::get(Value& root, Object*& out) const {
  Value* v = get(root);
  if (v == nullptr || v->type() != obj_type) return false;
  out = &v->get_obj();
  return true;
}

bool JSON_Pointer::get(Value& root, Array*& out) const {
  Value* v = get(root);
  if (v == nullptr || v->type() != array_type) return false;
  out = &v->get_array();
  return true;
}

void JSON_Pointer::append_token(std::string& out, const std::string& token) {
  out += '/';
  for (char c : token) {
    if (c == '~') {
      out += "~0";
    } else if (c == '/') {
      out += "~1";
    } else {
      out += c;
    }
  }
}

}  // namespace json_spirit

// Precondition checks: a failed check logs one line at emergency priority in a fixed
// frame ("Unexpected error in <file>:<line>, <expression><condition>:" and the call
// stack) and returns a failure value from the enclosing function. The checks are macros
// so that the position logged is the check's own.
//
// The expression text is always handed to the log as a "%s" argument, never spliced
// into the format, so an expression holding '%' (such as "total_size_ % block_size_")
// is printed as written. Comparison checks evaluate each operand exactly once.
#ifndef YOLT_CHECK_H
#define YOLT_CHECK_H

#include <ace/Log_Msg.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <type_traits>

namespace yolt {

// Decimal text of an integer, as std::to_string prints it.
template <typename T>
typename std::enable_if<std::is_integral<T>::value && !std::is_same<T, bool>::value,
                        std::string>::type
to_string(T value) {
  return std::to_string(value);
}

inline std::string to_string(bool value) { return value ? "1" : "0"; }

// "0x" and the address in lower-case hex without leading zeros ("0x0" for null).
inline std::string to_string(const void* value) {
  char buf[2 + 2 * sizeof(void*) + 1];
  std::snprintf(buf, sizeof buf, "0x%llx",
                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(value)));
  return buf;
}

template <typename T>
std::string to_string(T* value) {
  return to_string(static_cast<const void*>(value));
}

inline std::string to_string(std::nullptr_t) { return "0x0"; }

// Empty when the value prints exactly as `text`; else prefix + value text + suffix
// (a null prefix or suffix counts as empty).
template <typename T>
std::string to_string_if_ne(const T& value, const char* text, const char* prefix,
                            const char* suffix) {
  std::string s = yolt::to_string(value);
  if (text != nullptr && s == text) return std::string();
  std::string out = prefix ? prefix : "";
  out += s;
  out += suffix ? suffix : "";
  return out;
}

}  // namespace yolt

// The operand text a failed comparison check shows: "(value)", or nothing for a literal.
template <typename T>
std::string to_string_for_yolt_check_macro(T&& value, const char* text) {
  return yolt::to_string_if_ne(value, text, "(", ")");
}

// Positions the thread's log record at the check (keeping the caller's errno for "%m").
#define YOLT_CHECK_LOG_PREPARE_()                                     \
  int const yolt_saved_errno_ = ACE_Log_Msg::last_error_adapter();    \
  ACE_Log_Msg* const yolt_log_ = ACE_Log_Msg::instance();             \
  yolt_log_->conditional_set(__FILE__, __LINE__, -1, yolt_saved_errno_)

#define YOLT_CHECK_FAIL_(expr_text, cond_text, ret)                                  \
  do {                                                                               \
    YOLT_CHECK_LOG_PREPARE_();                                                       \
    yolt_log_->log(LM_EMERGENCY, "Unexpected error in %N:%l, %s%s:\n%?\n", expr_text, \
                   cond_text);                                                       \
    return ret;                                                                      \
  } while (0)

// Fails when the pointer (raw or smart) is null: "<p> is NULL".
#define YOLT_CHECK_NULL(p, ret) \
  do {                          \
    if (!(p)) YOLT_CHECK_FAIL_(#p, " is NULL", ret); \
  } while (0)

// Fails when the C string is null or empty: "<s> is NULL or \"\"".
#define YOLT_CHECK_CSTR(s, ret)                                          \
  do {                                                                   \
    const char* const yolt_s_ = (s);                                     \
    if (yolt_s_ == nullptr || *yolt_s_ == '\0')                          \
      YOLT_CHECK_FAIL_(#s, " is NULL or \"\"", ret);                     \
  } while (0)

// Fails when the pointer to a string or container is null or its pointee is empty.
#define YOLT_CHECK_NULL_OR_EMPTY(p, ret)                   \
  do {                                                     \
    const auto& yolt_p_ = (p);                             \
    if (!yolt_p_ || yolt_p_->empty())                      \
      YOLT_CHECK_FAIL_(#p, " is NULL or empty", ret);      \
  } while (0)

// Fails when the string or container is empty.
#define YOLT_CHECK_EMPTY(c, ret)                          \
  do {                                                    \
    if ((c).empty()) YOLT_CHECK_FAIL_(#c, " is empty", ret); \
  } while (0)

// Fails when the condition is true.
#define YOLT_CHECK_TRUE(b, ret)                            \
  do {                                                     \
    if (b) YOLT_CHECK_FAIL_(#b, " is true", ret);          \
  } while (0)

// Fails when the condition is false.
#define YOLT_CHECK_FALSE(b, ret)                           \
  do {                                                     \
    if (!(b)) YOLT_CHECK_FAIL_(#b, " is false", ret);      \
  } while (0)

// Fails when `l op r` holds; logs "<l>(lvalue) op <r>(rvalue)", each value omitted
// when it prints as its own source text (a literal).
#define YOLT_CHECK_CMP(l, op, r, ret) YOLT_CHECK_CMP_(l, op, r, #l, #op, #r, ret)
#define YOLT_CHECK_LT(l, r, ret) YOLT_CHECK_CMP_(l, <, r, #l, "<", #r, ret)
#define YOLT_CHECK_LE(l, r, ret) YOLT_CHECK_CMP_(l, <=, r, #l, "<=", #r, ret)
#define YOLT_CHECK_EQ(l, r, ret) YOLT_CHECK_CMP_(l, ==, r, #l, "==", #r, ret)
#define YOLT_CHECK_NE(l, r, ret) YOLT_CHECK_CMP_(l, !=, r, #l, "!=", #r, ret)

// The operand texts are stringized by the public macros above, before any macro in
// them (MAP_FAILED) is expanded.
#define YOLT_CHECK_CMP_(l, op, r, l_text, op_text, r_text, ret)                      \
  do {                                                                               \
    auto&& yolt_l_ = (l);                                                            \
    auto&& yolt_r_ = (r);                                                            \
    if (yolt_l_ op yolt_r_) {                                                        \
      YOLT_CHECK_LOG_PREPARE_();                                                     \
      const std::string yolt_lt_ = to_string_for_yolt_check_macro(yolt_l_, l_text);  \
      const std::string yolt_rt_ = to_string_for_yolt_check_macro(yolt_r_, r_text);  \
      yolt_log_->log(LM_EMERGENCY, "Unexpected error in %N:%l, %s%s %s %s%s:\n%?\n",   \
                     l_text, yolt_lt_.c_str(), op_text, r_text, yolt_rt_.c_str());   \
      return ret;                                                                    \
    }                                                                                \
  } while (0)

// JSON type checks: no call stack; the file is the compile-time path and the line goes
// in as "%d". `v` is a json_spirit::Value; for the empty check, an Array expression.
#define YOLT_CHECK_JSON_FAIL_(expr_text, cond_text, ret)                              \
  do {                                                                                \
    YOLT_CHECK_LOG_PREPARE_();                                                        \
    yolt_log_->log(LM_EMERGENCY, "Unexpected error in %s:%d, %s%s", __FILE__, __LINE__, \
                   expr_text, cond_text);                                             \
    return ret;                                                                       \
  } while (0)

#define YOLT_CHECK_JSON_OBJECT(v, ret)                                             \
  do {                                                                             \
    if ((v).type() != json_spirit::obj_type)                                       \
      YOLT_CHECK_JSON_FAIL_(#v, " is not object!\n", ret);                         \
  } while (0)

#define YOLT_CHECK_JSON_ARRAY(v, ret)                                              \
  do {                                                                             \
    if ((v).type() != json_spirit::array_type)                                     \
      YOLT_CHECK_JSON_FAIL_(#v, " is not array!\n", ret);                          \
  } while (0)

#define YOLT_CHECK_JSON_NONEMPTY(a, ret)                                           \
  do {                                                                             \
    if ((a).empty()) YOLT_CHECK_JSON_FAIL_(#a, " is empty array!\n", ret);         \
  } while (0)

// JSON-RPC handlers: fails when the incoming object is not a request (a notification or
// a response gets no answer). `obj` points (raw or smart) at an object whose type()
// gives its JSON-RPC type code; TYPE_REQUEST comes from the host's JSON-RPC header.
// Like the JSON type checks it logs no call stack.
#define YOLT_CHECK_JSON_RPC_REQUEST(obj, ret)                                              \
  do {                                                                                     \
    if ((obj)->type() != TYPE_REQUEST) {                                                   \
      YOLT_CHECK_LOG_PREPARE_();                                                           \
      yolt_log_->log(LM_EMERGENCY,                                                         \
                     "Unexpected error in %N:%l, %s is not JSON-RPC request!\n", #obj);    \
      return ret;                                                                          \
    }                                                                                      \
  } while (0)

#endif  // YOLT_CHECK_H

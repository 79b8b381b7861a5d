// Name/value tables: arrays of rows ended by a row whose key is null, whose value is what
// a failed lookup yields. The status and name tables of the cloud client and the element
// tables of the XML response parsers are built from them.
#ifndef YOLT_KEY_VALUE_H
#define YOLT_KEY_VALUE_H

#include <cstddef>
#include <cstring>

template <typename V>
struct Key2_Value_T {
  const char* key;  // null in the terminating row
  size_t len;       // strlen(key)
  V value;
};

template <typename V>
struct key_value_identity {
  using type = V;
};

// The first row whose name is exactly the `len` characters at `key` (which need not be
// NUL-terminated); the terminating row when none is, or when `key` is null.
template <typename V>
const Key2_Value_T<V>* get_key_value_entry(const Key2_Value_T<V>* table, const char* key,
                                           size_t len) {
  const Key2_Value_T<V>* row = table;
  for (; row->key != nullptr; ++row) {
    if (key != nullptr && row->len == len && std::strncmp(row->key, key, len) == 0) break;
  }
  return row;
}

// The first row holding `value`; the terminating row when none does.
template <typename V>
const Key2_Value_T<V>* get_key_value_entry(const Key2_Value_T<V>* table,
                                           const typename key_value_identity<V>::type& value) {
  const Key2_Value_T<V>* row = table;
  for (; row->key != nullptr; ++row) {
    if (row->value == value) break;
  }
  return row;
}

// The first row whose name equals the NUL-terminated `key`; the terminating row when
// none does, or when `key` is null.
template <typename V>
const Key2_Value_T<V>* get_key_value_entry(const Key2_Value_T<V>* table, const char* key) {
  const Key2_Value_T<V>* row = table;
  for (; row->key != nullptr; ++row) {
    if (key != nullptr && std::strcmp(row->key, key) == 0) break;
  }
  return row;
}

#endif  // YOLT_KEY_VALUE_H

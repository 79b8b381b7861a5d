// Parsing one complete JSON text into a json_spirit::Value. Used wherever a whole text is
// at hand (cloud answers that embed JSON, stored documents, tests).
#ifndef HOST_JSON_JSON_LOAD_H
#define HOST_JSON_JSON_LOAD_H

#include "json/value.h"

#include <cstddef>
#include <string>

namespace json_spirit {

// Parses exactly one JSON text of `len` bytes (surrounding white space allowed, nothing
// else after it). Integers become int64; positive ones beyond INT64_MAX that fit uint64
// become uint64; other numbers double. "\u" escapes, surrogate pairs included, become
// UTF-8. Returns true and sets `out`; on bad text returns false, leaves `out` unchanged
// and, when `error` is given, stores a one-line reason there.
bool JSON_Load(const char* text, size_t len, Value& out, std::string* error = nullptr);
bool JSON_Load(const std::string& text, Value& out, std::string* error = nullptr);

// The same, returning the value; a null value when the text is not valid JSON (callers
// that must tell "null" from "bad text" use the forms above).
Value JSON_Load(const char* text, size_t len);
Value JSON_Load(const char* text);  // NUL-terminated; a null pointer gives null
Value JSON_Load(const std::string& text);

}  // namespace json_spirit

using json_spirit::JSON_Load;

#endif  // HOST_JSON_JSON_LOAD_H

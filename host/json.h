// A strict reader of JSON texts (RFC 8259): exactly one value with optional
// white space around it, strings of valid UTF-8 with paired surrogate escapes,
// numbers in the grammar's form, no duplicate names in an object, nesting
// bounded by kMaxJsonDepth. Anything else fails; nothing is guessed.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/exception.h"

namespace peloria {

PELORIA_DECLARE_EXCEPTION(EJsonError, Exception);  // "... at byte N"

struct TJsonValue {
  enum class Kind { kNull, kFalse, kTrue, kNumber, kString, kArray, kObject };
  Kind kind = Kind::kNull;
  // A string's UTF-8 value, or a number's text as written.
  std::string text;
  // An array's elements, or an object's member values beside their names.
  std::vector<TJsonValue> items;
  std::vector<std::string> names;

  // The object member `name`; none for another kind or a missing name.
  const TJsonValue* Member(std::string_view name) const;
};

TJsonValue ParseJson(std::string_view text);

// `text` as a JSON string, quotes included: control characters, quotes and
// backslashes escaped, all other bytes as they are.
std::string JsonQuoted(std::string_view text);

}  // namespace peloria

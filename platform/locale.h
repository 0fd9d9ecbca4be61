// The user's locale settings and the system clock's offset from UTC.
#pragma once

#include <optional>

namespace peloria {

// The first character of the decimal symbol of the user's locale (taken from
// the environment, LC_ALL / LC_NUMERIC / LANG, whatever locale the process has
// set with setlocale), "." when it gives none. Read once and kept; call
// RefreshDecimalSeparator() when the settings may have changed.
char DecimalSeparator();
void RefreshDecimalSeparator();

// The current offset of local time from UTC in seconds (daylight saving
// included), positive east of Greenwich; none when the system cannot tell.
std::optional<long> UtcOffsetSeconds();

}  // namespace peloria

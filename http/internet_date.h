// Dates of HTTP headers ("Sun, 06 Nov 1994 08:49:37 GMT", RFC 9110 5.6.7)
// as local date-times: days since 30 December 1899, the time as the fraction.
#pragma once

#include <string_view>

#include "http/id_exceptions.h"

namespace peloria {

// The system cannot tell its offset from UTC.
PELORIA_DECLARE_EXCEPTION(EIdFailedToRetreiveTimeZoneInfo, EIdException);
inline constexpr const char* kMsgFailedToRetrieveTimeZoneInfo =
    "Failed attempting to retrieve time zone information.";

// The date-time that `text` names, moved from its own zone ("+hhmm" or
// "-hhmm" after the time; anything else counts as UTC) to the zone
// `localOffsetSeconds` east of UTC. Never fails: a text that names no valid
// date (empty, bad month, impossible day or time) counts as day 0 in UTC, so
// the answer is then the bare local offset in days.
//
// The words are: an optional day name (its first three letters "Sun" to
// "Sat", any case), the day (1 when no number), the month ("Jan" to "Dec",
// any case), the year (1900 when no number; below 80 means 20xx, 80 to 99
// means 19xx), then, when the rest holds a ":", hours:minutes:seconds (each
// 0 when missing or no number), then the zone.
double InternetDateToLocal(std::string_view text, long localOffsetSeconds);

// As above with the system's current offset from UTC (daylight saving
// included); fails with EIdFailedToRetreiveTimeZoneInfo when there is none.
double InternetDateToLocal(std::string_view text);

}  // namespace peloria

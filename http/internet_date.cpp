#include "http/internet_date.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "http/url_parts.h"
#include "platform/cp932.h"
#include "platform/locale.h"
#include "platform/numbers.h"

namespace peloria {

namespace {

constexpr double kSecondsPerDay = 86400.0;
constexpr std::array<std::string_view, 7> kDayNames = {"SUN", "MON", "TUE", "WED",
                                                       "THU", "FRI", "SAT"};
constexpr std::array<std::string_view, 12> kMonthNames = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                                          "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

bool IsLeapYear(std::int32_t y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

// Days from 1 March of year 0 of the proleptic Gregorian calendar (a year
// that starts with March puts the leap day last).
constexpr std::int64_t DaysFromCivil(std::int64_t year, std::int64_t month, std::int64_t day) {
  std::int64_t y = month <= 2 ? year - 1 : year;
  std::int64_t m = month <= 2 ? month + 9 : month - 3;
  return 365 * y + y / 4 - y / 100 + y / 400 + (153 * m + 2) / 5 + day - 1;
}

// Days from 30 December 1899 to the given day; none for a day that does not
// exist or a year outside 1..9999.
std::optional<std::int64_t> DayNumber(std::int32_t year, std::int32_t month, std::int32_t day) {
  static constexpr std::array<std::int32_t, 12> kDays = {31, 28, 31, 30, 31, 30,
                                                         31, 31, 30, 31, 30, 31};
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return std::nullopt;
  std::int32_t inMonth = kDays[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0);
  if (day > inMonth) return std::nullopt;
  return DaysFromCivil(year, month, day) - DaysFromCivil(1899, 12, 30);
}

// "+hhmm" or "-hhmm" as a part of a day; 0 for anything else.
double ZoneOffsetDays(std::string_view zone) {
  if (zone.size() < 5 || (zone[0] != '+' && zone[0] != '-')) return 0;
  for (std::size_t i = 1; i < 5; ++i) {
    if (zone[i] < '0' || zone[i] > '9') return 0;
  }
  int hours = (zone[1] - '0') * 10 + (zone[2] - '0');
  int minutes = (zone[3] - '0') * 10 + (zone[4] - '0');
  double days = (hours * 60 + minutes) * 60 / kSecondsPerDay;
  return zone[0] == '-' ? -days : days;
}

// The date-time in its own zone and that zone's offset, both in days.
struct ZonedDate {
  double date = 0;
  double offset = 0;
};

std::optional<ZonedDate> ParseInternetDate(std::string_view text) {
  std::string rest(Trimmed(text));
  if (rest.empty()) return std::nullopt;
  std::string first = UpperAscii(rest.substr(0, 3));
  for (std::string_view name : kDayNames) {
    if (first == name) {
      SplitAt(rest, " ", true);
      break;
    }
  }
  std::int32_t day = TryStrToInt(SplitAt(rest, " ", true)).value_or(1);
  std::string monthName = UpperAscii(SplitAt(rest, " ", true));
  std::int32_t month = 0;
  for (std::size_t i = 0; i < kMonthNames.size(); ++i) {
    if (monthName == kMonthNames[i]) month = static_cast<std::int32_t>(i + 1);
  }
  std::int32_t year = TryStrToInt(SplitAt(rest, " ", true)).value_or(1900);
  if (year < 80) {
    year += 2000;
  } else if (year < 100) {
    year += 1900;
  }
  std::optional<std::int64_t> days = DayNumber(year, month, day);
  if (!days) return std::nullopt;

  std::int32_t hours = 0, minutes = 0, seconds = 0;
  if (rest.find(':') != std::string::npos) {
    std::string time = SplitAt(rest, " ", true);
    hours = TryStrToInt(SplitAt(time, ":", true)).value_or(0);
    minutes = TryStrToInt(SplitAt(time, ":", true)).value_or(0);
    seconds = TryStrToInt(time).value_or(0);
  }
  if (hours < 0 || hours > 23 || minutes < 0 || minutes > 59 || seconds < 0 || seconds > 59) {
    return std::nullopt;
  }
  // Before the epoch the integral part still names the day and the fraction
  // the time, counted away from 0: 29 December 1899 06:00 is -1.25.
  double fraction = (hours * 3600 + minutes * 60 + seconds) / kSecondsPerDay;
  ZonedDate zoned;
  zoned.date = static_cast<double>(*days) + (*days < 0 ? -fraction : fraction);
  if (rest.size() > 4) zoned.offset = ZoneOffsetDays(rest);
  return zoned;
}

}  // namespace

double InternetDateToLocal(std::string_view text, long localOffsetSeconds) {
  ZonedDate zoned = ParseInternetDate(text).value_or(ZonedDate{});
  return zoned.date - zoned.offset + static_cast<double>(localOffsetSeconds) / kSecondsPerDay;
}

double InternetDateToLocal(std::string_view text) {
  std::optional<long> offset = UtcOffsetSeconds();
  if (!offset) throw EIdFailedToRetreiveTimeZoneInfo(kMsgFailedToRetrieveTimeZoneInfo);
  return InternetDateToLocal(text, *offset);
}

}  // namespace peloria

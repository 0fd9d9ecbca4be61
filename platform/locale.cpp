#include "platform/locale.h"

#include <langinfo.h>
#include <locale.h>
#include <time.h>

#include <atomic>

namespace peloria {
namespace {

char ReadDecimalSeparator() {
  // newlocale(..., "", ...) resolves the user's settings from the environment
  // without touching the process locale that other code may rely on.
  locale_t loc = newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(nullptr));
  if (loc == static_cast<locale_t>(nullptr)) return '.';
  const char* point = nl_langinfo_l(RADIXCHAR, loc);
  char c = (point != nullptr && point[0] != '\0') ? point[0] : '.';
  freelocale(loc);
  return c;
}

std::atomic<char> separator{'\0'};

}  // namespace

char DecimalSeparator() {
  char c = separator.load(std::memory_order_relaxed);
  if (c == '\0') {
    c = ReadDecimalSeparator();
    separator.store(c, std::memory_order_relaxed);
  }
  return c;
}

void RefreshDecimalSeparator() {
  separator.store(ReadDecimalSeparator(), std::memory_order_relaxed);
}

std::optional<long> UtcOffsetSeconds() {
  time_t now = time(nullptr);
  struct tm local;
  if (now == static_cast<time_t>(-1) || localtime_r(&now, &local) == nullptr) return std::nullopt;
  return local.tm_gmtoff;
}

}  // namespace peloria

#include "platform/local_time.h"

#include <time.h>

namespace quillaro {

LocalTime CurrentLocalTime() {
  LocalTime result;
  time_t now = ::time(nullptr);
  struct tm fields;
  if (now == static_cast<time_t>(-1) || ::localtime_r(&now, &fields) == nullptr) return result;
  result.year = fields.tm_year + 1900;
  result.month = fields.tm_mon + 1;
  result.day = fields.tm_mday;
  result.hour = fields.tm_hour;
  result.minute = fields.tm_min;
  result.second = fields.tm_sec;
  return result;
}

}  // namespace quillaro

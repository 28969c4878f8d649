#ifndef QUILLARO_PLATFORM_LOCAL_TIME_H_
#define QUILLARO_PLATFORM_LOCAL_TIME_H_

namespace quillaro {

// The machine's local calendar time, to the second.
struct LocalTime {
  int year = 0;    // four digits
  int month = 0;   // 1 to 12
  int day = 0;     // 1 to 31
  int hour = -1;   // 0 to 23
  int minute = -1;
  int second = -1;
};

// The current local time. When the system cannot break the time down, the
// date fields are 0 and the time fields -1.
LocalTime CurrentLocalTime();

}  // namespace quillaro

#endif  // QUILLARO_PLATFORM_LOCAL_TIME_H_

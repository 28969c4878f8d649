#include "platform/local_time.h"

#include "platform/windows_util_windows.h"

namespace quillaro {

LocalTime CurrentLocalTime() {
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  return LocalTime{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
}

}  // namespace quillaro

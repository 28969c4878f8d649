// Helpers shared by the Windows backend only: <windows.h> with its macros
// tamed, UTF-16 conversions for the W calls, and an owner for HANDLEs.
#ifndef QUILLARO_PLATFORM_WINDOWS_UTIL_WINDOWS_H_
#define QUILLARO_PLATFORM_WINDOWS_UTIL_WINDOWS_H_

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>
#include <string_view>
#include <utility>

#include "platform/code_page.h"
#include "platform/native_handle.h"

namespace quillaro {

// A narrow (ANSI code page) path or text as the W calls take it.
inline std::wstring ToWin(std::string_view narrow) {
  const std::u16string wide = NarrowToWide(narrow);
  return std::wstring(wide.begin(), wide.end());
}
inline std::wstring ToWin(std::u16string_view wide) {
  return std::wstring(wide.begin(), wide.end());
}
inline std::string FromWin(std::wstring_view wide) {
  return WideToNarrow(std::u16string(wide.begin(), wide.end()));
}

// Move-only owner of a kernel HANDLE; closes it on destruction.
using UniqueHandle = UniqueNativeHandle;

// Move-only owner of a directory search (FindFirstFileExW); ends it with
// FindClose on destruction.
class UniqueFindHandle {
 public:
  explicit UniqueFindHandle(HANDLE find = INVALID_HANDLE_VALUE) noexcept : find_(find) {}
  UniqueFindHandle(UniqueFindHandle&& other) noexcept
      : find_(std::exchange(other.find_, INVALID_HANDLE_VALUE)) {}
  UniqueFindHandle& operator=(UniqueFindHandle&&) = delete;
  UniqueFindHandle(const UniqueFindHandle&) = delete;
  UniqueFindHandle& operator=(const UniqueFindHandle&) = delete;
  ~UniqueFindHandle() {
    if (Valid()) ::FindClose(find_);
  }
  HANDLE Get() const { return find_; }
  bool Valid() const { return find_ != INVALID_HANDLE_VALUE && find_ != nullptr; }

 private:
  HANDLE find_;
};

// FILETIME ticks (100 ns since 1601) to nanoseconds since 1970.
inline int64_t FileTimeToUnixNanoseconds(const FILETIME& time) {
  const uint64_t ticks = (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  return (static_cast<int64_t>(ticks) - 116444736000000000LL) * 100;
}

}  // namespace quillaro

#endif  // QUILLARO_PLATFORM_WINDOWS_UTIL_WINDOWS_H_

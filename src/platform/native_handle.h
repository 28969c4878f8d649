#ifndef QUILLARO_PLATFORM_NATIVE_HANDLE_H_
#define QUILLARO_PLATFORM_NATIVE_HANDLE_H_

#include <utility>

namespace quillaro {

// What a platform object is to the operating system: a descriptor on Linux,
// a HANDLE on Windows. Only code in src/platform/ looks inside.
#ifdef _WIN32
using NativeHandle = void*;
inline constexpr NativeHandle kNoNativeHandle = nullptr;
#else
using NativeHandle = int;
inline constexpr NativeHandle kNoNativeHandle = -1;
#endif

// The one owner of a descriptor (Linux) or kernel HANDLE (Windows): closes
// it on destruction. Move-only. The backends know it as UniqueFd and
// UniqueHandle; a platform header can hold one without naming the system's
// types. Not for handles with a close call of their own (a directory
// search, a std::FILE).
class UniqueNativeHandle {
 public:
  explicit UniqueNativeHandle(NativeHandle handle = kNoNativeHandle) noexcept : handle_(handle) {}
  UniqueNativeHandle(UniqueNativeHandle&& other) noexcept : handle_(other.Release()) {}
  UniqueNativeHandle& operator=(UniqueNativeHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  UniqueNativeHandle(const UniqueNativeHandle&) = delete;
  UniqueNativeHandle& operator=(const UniqueNativeHandle&) = delete;
  ~UniqueNativeHandle() { Reset(); }

  NativeHandle Get() const { return handle_; }
  // False for kNoNativeHandle and for what a failed open returns (-1 on
  // Linux, INVALID_HANDLE_VALUE on Windows).
  bool Valid() const {
#ifdef _WIN32
    return handle_ != nullptr && handle_ != reinterpret_cast<NativeHandle>(-1);
#else
    return handle_ >= 0;
#endif
  }
  NativeHandle Release() { return std::exchange(handle_, kNoNativeHandle); }
  // Closes the old handle, if valid, and takes `handle`.
  void Reset(NativeHandle handle = kNoNativeHandle) {
    if (Valid()) CloseNative(handle_);
    handle_ = handle;
  }
  // Closes the handle now. False when it was not valid or the system
  // reported a failure (on Linux a failed close() may have lost data
  // written; the descriptor is gone either way and is never closed again).
  bool Close() {
    if (!Valid()) return false;
    return CloseNative(Release());
  }

 private:
  // close() on Linux, CloseHandle() on Windows; true on success.
  static bool CloseNative(NativeHandle handle) noexcept;

  NativeHandle handle_;
};

}  // namespace quillaro

#endif  // QUILLARO_PLATFORM_NATIVE_HANDLE_H_

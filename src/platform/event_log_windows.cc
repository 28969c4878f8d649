#include "platform/event_log_windows.h"

#include <atomic>
#include <mutex>
#include <string>

#include "platform/windows_util_windows.h"

namespace quillaro {
namespace {

// The process's event source, opened once and closed at exit.
class EventSource {
 public:
  EventSource() : handle_(::RegisterEventSourceW(nullptr, kEventSource)) {}
  EventSource(const EventSource&) = delete;
  EventSource& operator=(const EventSource&) = delete;
  ~EventSource() {
    if (handle_ != nullptr) ::DeregisterEventSource(handle_);
  }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

std::atomic<HANDLE> enabled_source{nullptr};

}  // namespace

bool EnableEventLogReports() {
  static EventSource source;
  enabled_source.store(source.get());
  return source.get() != nullptr;
}

bool ReportToEventLog(std::string_view line) {
  HANDLE source = enabled_source.load();
  if (source == nullptr) return false;
  const std::wstring text = ToWin(line);
  const wchar_t* strings[1] = {text.c_str()};
  return ::ReportEventW(source, EVENTLOG_ERROR_TYPE, 0, kServiceErrorEventId, nullptr, 1, 0,
                        strings, nullptr) != 0;
}

}  // namespace quillaro

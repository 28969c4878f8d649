#include "platform/os_error.h"

#include <io.h>

#include <string_view>
#include <utility>

#include "platform/event_log_windows.h"
#include "platform/windows_util_windows.h"

namespace quillaro {

std::string OsError::ToString() const {
  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message = length > 0 ? std::wstring(text, length) : L"Unknown error";
  if (text != nullptr) ::LocalFree(text);
  // The system's texts end in a line break (and often a full stop): one line here.
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                              message.back() == L' ' || message.back() == L'.')) {
    message.pop_back();
  }
  return call + "(\"" + path + "\"): " + FromWin(message) + " (error " + std::to_string(code) + ")";
}

OsErrorKind OsError::kind() const {
  switch (static_cast<DWORD>(code)) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return OsErrorKind::kNotFound;
    case ERROR_ACCESS_DENIED:
      return OsErrorKind::kAccessDenied;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return OsErrorKind::kAlreadyExists;
    case ERROR_TIMEOUT:
    case WAIT_TIMEOUT:
      return OsErrorKind::kTimedOut;
    default:
      return OsErrorKind::kOther;
  }
}

OsError LastOsError(std::string call, std::string path) {
  const int code = static_cast<int>(::GetLastError());
  return OsError{std::move(call), code, std::move(path)};
}

void ReportOsError(const OsError& error, std::string_view what) {
  const std::string line = ServiceReportLine(error, what);
  // One write: lines of concurrent workers stay whole.
  [[maybe_unused]] const int written = ::_write(2, line.data(), static_cast<unsigned>(line.size()));
  // Under the control manager standard error goes nowhere an administrator
  // looks: the event log gets the line too, without its prefix and line end.
  std::string_view text(line);
  constexpr std::string_view kPrefix = "quillaro: ";
  if (text.substr(0, kPrefix.size()) == kPrefix) text.remove_prefix(kPrefix.size());
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
  ReportToEventLog(text);
}

}  // namespace quillaro

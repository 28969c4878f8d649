// The Windows event log as the second place the service's error lines go,
// where administrators look for them. Windows backend only: the service
// control (service_control_windows.cc) switches it on when the control
// manager runs the service, and ReportOsError (os_error_windows.cc) writes
// each line there as well as to standard error.
#ifndef QUILLARO_PLATFORM_EVENT_LOG_WINDOWS_H_
#define QUILLARO_PLATFORM_EVENT_LOG_WINDOWS_H_

#include <string_view>

namespace quillaro {

// The event source the lines are written under. The installer registers it
// with the system's EventCreate.exe as its message file (whose messages 1 to
// 1000 are the inserted text alone), so the viewer shows each line as it is.
inline constexpr wchar_t kEventSource[] = L"Quillaro";
// The event id of every line: a failure the service reported.
inline constexpr unsigned kServiceErrorEventId = 1;

// From now on ReportToEventLog writes. Opens the event source once (kept
// open until the process ends); false when the system refused, and then
// nothing is written. Safe from any thread.
bool EnableEventLogReports();

// Writes `line` (one line of ReportOsError's, without "quillaro: " and line
// end) as an error event under kEventSource, when enabled; else does
// nothing. Returns true when an event was written. Safe from any thread.
bool ReportToEventLog(std::string_view line);

}  // namespace quillaro

#endif  // QUILLARO_PLATFORM_EVENT_LOG_WINDOWS_H_

#ifndef QUILLARO_PLATFORM_SERVICE_CONTROL_H_
#define QUILLARO_PLATFORM_SERVICE_CONTROL_H_

#include <cstdint>
#include <functional>
#include <string>

namespace quillaro {

// Service states, as a service control manager knows them.
inline constexpr uint32_t kServiceStopped = 1;
inline constexpr uint32_t kServiceStartPending = 2;
inline constexpr uint32_t kServiceStopPending = 3;
inline constexpr uint32_t kServiceRunning = 4;

// Control codes delivered to a service's control handler.
inline constexpr uint32_t kServiceControlStop = 1;
inline constexpr uint32_t kServiceControlInterrogate = 4;
inline constexpr uint32_t kServiceControlShutdown = 5;

// Controls a service accepts (a bit set).
inline constexpr uint32_t kServiceAcceptStop = 1;
inline constexpr uint32_t kServiceAcceptShutdown = 4;

// What a service reports of itself.
struct ServiceStatus {
  uint32_t service_type = 16;  // its own process
  uint32_t current_state = 0;
  uint32_t controls_accepted = 0;
  uint32_t win32_exit_code = 0;
  uint32_t service_specific_exit_code = 0;
  uint32_t check_point = 0;
  uint32_t wait_hint_ms = 0;
};

// The program as its own service control manager. RunServiceDispatcher()
// makes the calling thread the dispatcher: it runs `service_main` on a
// thread of its own and, while that runs, turns the process's control
// signals into control codes for the handler registered through
// RegisterServiceControlHandler(), which runs on the dispatcher's thread.
// It returns when `service_main` has returned; the result says whether the
// dispatcher could run at all. A control that the service's last status
// report does not accept (a stop while it reports start pending) is held
// until a report accepts it, and dropped if the service ends first.
//
// On Linux: SIGTERM and SIGINT are stop, SIGPWR is shutdown, SIGUSR1 is
// interrogate. The signals are blocked in every thread (call this before any
// other thread starts) and taken by the dispatcher; no signal handlers run.
// Status reports go to systemd through sd_notify when NOTIFY_SOCKET is set,
// and as one line each on standard error.
//
// On Windows the dispatcher is StartServiceCtrlDispatcherW with the one entry
// `service_name`; the handler then runs on a thread of the control manager
// (not the dispatcher's) and reports go to SetServiceStatus and standard
// error. Started from a console instead, the service runs in the foreground
// and Ctrl-C, Ctrl-Break or closing the console is a stop.
bool RunServiceDispatcher(const std::u16string& service_name,
                          const std::function<void()>& service_main);

using ServiceControlHandler = std::function<void(uint32_t control)>;

// Registers `handler` for the running service; returns false when no
// dispatcher runs under `service_name`.
bool RegisterServiceControlHandler(const std::u16string& service_name,
                                   ServiceControlHandler handler);

// Hands `control` to the registered handler on the calling thread, as the
// control manager would; nothing when none is registered. For controls a
// test cannot make the system send (shutdown under Wine).
void DeliverServiceControl(uint32_t control);

// Reports `status`. Returns false when the report could not be delivered.
bool ReportServiceStatus(const ServiceStatus& status);

}  // namespace quillaro

#endif  // QUILLARO_PLATFORM_SERVICE_CONTROL_H_

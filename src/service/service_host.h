#ifndef QUILLARO_SERVICE_SERVICE_HOST_H_
#define QUILLARO_SERVICE_SERVICE_HOST_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/event.h"
#include "service/service_threads.h"

namespace quillaro {

// The service name under which the program runs.
inline constexpr char16_t kServiceName[] = u"Quillaro";

// Makes the program the service "Quillaro": connects to the control layer
// (platform/service_control.h), reports the service's state, starts the inbox
// watcher and the cleanup thread, and stops them again (cleanup first) on a
// stop or shutdown control. One per process; `main` owns it.
class ServiceHost {
 public:
  // `on_start` runs once when the service starts, before its threads;
  // `on_stop` once after they have stopped (process-wide set-up such as the
  // imaging library's). Either may be empty.
  ServiceHost(std::function<void()> on_start, std::function<void()> on_stop);
  ServiceHost(const ServiceHost&) = delete;
  ServiceHost& operator=(const ServiceHost&) = delete;
  ~ServiceHost() = default;

  // Runs the service until it has stopped. Returns the process exit code:
  // 0 once stopped by a control, 1 when the service could not start (its
  // threads could not be created or in/ cannot be watched; the reason is
  // one line on standard error).
  int Run();

 private:
  void ServiceMain();
  void ControlHandler(uint32_t control);
  // Reports `state`; on failure (other than of the stopped report) runs the
  // stop sequence and returns false.
  bool ReportStatus(uint32_t state, uint32_t check_point, uint32_t wait_hint_ms);
  bool StartThreads();
  void StopThreads();
  void StopSequence();

  std::function<void()> on_start_;
  std::function<void()> on_stop_;
  std::mutex mu_;  // current_state_, service_stop_
  uint32_t current_state_ = 0;
  int exit_code_ = 0;  // set by the service's main thread before it reports stopped
  std::shared_ptr<ManualResetEvent> service_stop_;
  ServiceThreads threads_;
};

}  // namespace quillaro

#endif  // QUILLARO_SERVICE_SERVICE_HOST_H_

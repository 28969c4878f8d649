#include "service/service_host.h"

#include <filesystem>
#include <system_error>
#include <utility>

#include "config/path_utils.h"
#include "config/text_utils.h"
#include "platform/child_confinement.h"
#include "platform/os_error.h"
#include "platform/service_control.h"
#include "platform/wait.h"
#include "service/aged_file_cleanup.h"
#include "service/confinement_notice.h"
#include "service/inbox_watcher.h"

namespace quillaro {

ServiceHost::ServiceHost(std::function<void()> on_start, std::function<void()> on_stop)
    : on_start_(std::move(on_start)), on_stop_(std::move(on_stop)) {}

int ServiceHost::Run() {
  if (!RunServiceDispatcher(kServiceName, [this] { ServiceMain(); })) return 1;
  return exit_code_;
}

void ServiceHost::ServiceMain() {
  if (!RegisterServiceControlHandler(kServiceName,
                                     [this](uint32_t control) { ControlHandler(control); })) {
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mu_);
    current_state_ = kServiceStartPending;
  }
  if (!ReportStatus(kServiceStartPending, 1, 3000)) return;
  {
    std::lock_guard<std::mutex> lock(mu_);
    service_stop_ = std::make_shared<ManualResetEvent>(false);
  }
  if (!ReportStatus(kServiceStartPending, 2, 1000)) return;

  // No control comes while the service reports start pending (it accepts
  // none): a stop signalled meanwhile is held until it reports running.
  if (on_start_) on_start_();
  if (!StartThreads()) {
    // Without a watch on in/ no job would ever be processed: say so by the
    // exit code rather than run on deaf.
    exit_code_ = 1;
    StopSequence();
    if (on_stop_) on_stop_();
    return;
  }
  // After StartThreads, which makes the service folder the current folder.
  ReportInterpreterConfinement(FileSystemSandboxVersion());
  {
    std::lock_guard<std::mutex> lock(mu_);
    current_state_ = kServiceRunning;
  }
  std::shared_ptr<ManualResetEvent> service_stop;
  {
    std::lock_guard<std::mutex> lock(mu_);
    service_stop = service_stop_;
  }
  if (ReportStatus(kServiceRunning, 0, 0)) service_stop->Wait(kInfinite);
  if (on_stop_) on_stop_();
}

void ServiceHost::ControlHandler(uint32_t control) {
  if (control == kServiceControlStop || control == kServiceControlShutdown) {
    {
      std::lock_guard<std::mutex> lock(mu_);
      current_state_ = kServiceStopPending;
    }
    ReportStatus(kServiceStopPending, 1, 3000);
    StopSequence();
    return;
  }
  uint32_t state;
  {
    std::lock_guard<std::mutex> lock(mu_);
    state = current_state_;
  }
  ReportStatus(state, 0, 0);
}

bool ServiceHost::ReportStatus(uint32_t state, uint32_t check_point, uint32_t wait_hint_ms) {
  ServiceStatus status;
  status.current_state = state;
  // None while starting (a stop is held until the service runs) or once
  // stopped (a late one is dropped).
  status.controls_accepted = state == kServiceStartPending || state == kServiceStopped
                                 ? 0
                                 : kServiceAcceptStop | kServiceAcceptShutdown;
  status.check_point = check_point;
  status.wait_hint_ms = wait_hint_ms;
  if (state == kServiceStopped) status.service_specific_exit_code = exit_code_;
  if (ReportServiceStatus(status)) return true;
  if (state != kServiceStopped) StopSequence();
  return false;
}

bool ServiceHost::StartThreads() {
  // Child processes inherit the current folder: make it the service folder.
  std::error_code error;
  std::filesystem::current_path(ToNarrow(GetModuleFolder()), error);

  threads_.inbox.stop_request.Reset();
  threads_.inbox.stopped.Reset();
  threads_.inbox.started.Reset();
  OsError start_error;
  if (!threads_.inbox_thread.Start([this] { InboxWatcherThread(&threads_); },
                                   ThreadPriority::kNormal, &start_error)) {
    ReportOsError(start_error, "cannot start the inbox thread");
    threads_.inbox.stopped.Set();
    return false;
  }
  // Running means that a job dropped now is seen: wait until in/ is watched
  // (the thread reports why when it cannot be).
  if (WaitAny({threads_.inbox.started, threads_.inbox.stopped}, kInfinite) != 0) return false;
  threads_.cleanup.stop_request.Reset();
  threads_.cleanup.stopped.Reset();
  if (!threads_.cleanup_thread.Start([this] { CleanupThread(&threads_); }, ThreadPriority::kNormal,
                                     &start_error)) {
    ReportOsError(start_error, "cannot start the cleanup thread");
    threads_.cleanup.stopped.Set();
    return false;
  }
  return true;
}

void ServiceHost::StopThreads() {
  threads_.cleanup.stop_request.Set();
  threads_.cleanup.stopped.Wait(kInfinite);
  // Includes the drain of the workers.
  threads_.inbox.stop_request.Set();
  threads_.inbox.stopped.Wait(kInfinite);
}

void ServiceHost::StopSequence() {
  StopThreads();
  std::shared_ptr<ManualResetEvent> service_stop;
  {
    std::lock_guard<std::mutex> lock(mu_);
    service_stop = service_stop_;
  }
  if (service_stop) service_stop->Set();
  ReportStatus(kServiceStopped, 0, 0);
}

}  // namespace quillaro

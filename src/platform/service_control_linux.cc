#include "platform/service_control.h"

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "platform/code_page.h"
#include "platform/event.h"
#include "platform/thread.h"
#include "platform/unique_fd_linux.h"

namespace quillaro {
namespace {

// The dispatcher's record of the one service it runs, as a control manager
// keeps it; shared by the dispatcher thread and the service's threads.
struct Dispatcher {
  std::mutex mu;                   // name, handler, running, accepted
  std::u16string name;
  ServiceControlHandler handler;
  bool running = false;
  // The controls the service's last status report accepts; set whenever a
  // report changes them, so that held controls are looked at again.
  uint32_t accepted = 0;
  ManualResetEvent accepted_changed{false};
};

Dispatcher& TheDispatcher() {
  static Dispatcher* dispatcher = new Dispatcher();
  return *dispatcher;
}

const char* StateName(uint32_t state) {
  switch (state) {
    case kServiceStopped: return "stopped";
    case kServiceStartPending: return "start pending";
    case kServiceStopPending: return "stop pending";
    case kServiceRunning: return "running";
    default: return "unknown state";
  }
}

uint32_t ControlForSignal(int signal_number) {
  switch (signal_number) {
    case SIGTERM:
    case SIGINT: return kServiceControlStop;
    case SIGPWR: return kServiceControlShutdown;
    default: return kServiceControlInterrogate;
  }
}

// Whether a service that accepts `accepted` takes `control` now. Interrogate
// is always taken.
bool Accepts(uint32_t accepted, uint32_t control) {
  switch (control) {
    case kServiceControlStop: return (accepted & kServiceAcceptStop) != 0;
    case kServiceControlShutdown: return (accepted & kServiceAcceptShutdown) != 0;
    default: return true;
  }
}

}  // namespace

bool RunServiceDispatcher(const std::u16string& service_name,
                          const std::function<void()>& service_main) {
  Dispatcher& dispatcher = TheDispatcher();
  {
    std::lock_guard<std::mutex> lock(dispatcher.mu);
    if (dispatcher.running) return false;
    dispatcher.running = true;
    dispatcher.name = service_name;
    dispatcher.handler = nullptr;
    dispatcher.accepted = 0;
    dispatcher.accepted_changed.Reset();
  }

  // Blocked here, before the service starts any thread, so every thread
  // inherits the mask and only the signalfd below sees these signals.
  sigset_t controls;
  sigemptyset(&controls);
  for (int s : {SIGTERM, SIGINT, SIGPWR, SIGUSR1}) sigaddset(&controls, s);
  ::pthread_sigmask(SIG_BLOCK, &controls, nullptr);
  UniqueFd signals(::signalfd(-1, &controls, SFD_CLOEXEC | SFD_NONBLOCK));

  ManualResetEvent ended(false);
  Thread main_thread;
  bool started = signals.Valid() && main_thread.Start([&] {
    service_main();
    ended.Set();
  });

  // A signal cannot be refused as a control manager refuses a control the
  // service does not accept (none while it starts): such a control is held,
  // one of each kind, until the service accepts it, or dropped when the
  // service ends first.
  std::vector<uint32_t> held;
  while (started) {
    dispatcher.accepted_changed.Reset();
    for (auto it = held.begin(); it != held.end();) {
      ServiceControlHandler handler;
      {
        std::lock_guard<std::mutex> lock(dispatcher.mu);
        if (dispatcher.handler && Accepts(dispatcher.accepted, *it)) handler = dispatcher.handler;
      }
      if (!handler) {
        ++it;
        continue;
      }
      const uint32_t control = *it;
      it = held.erase(it);
      handler(control);
    }

    pollfd fds[3] = {{ended.native_handle(), POLLIN, 0},
                     {signals.Get(), POLLIN, 0},
                     {dispatcher.accepted_changed.native_handle(), POLLIN, 0}};
    if (::poll(fds, 3, -1) < 0) {
      if (errno == EINTR) continue;
      // Without the poll no control can arrive any more; let the service
      // run to its own end.
      break;
    }
    if (fds[0].revents & POLLIN) break;
    if (!(fds[1].revents & POLLIN)) continue;
    signalfd_siginfo info;
    if (::read(signals.Get(), &info, sizeof info) != sizeof info) continue;
    const uint32_t control = ControlForSignal(static_cast<int>(info.ssi_signo));
    if (std::find(held.begin(), held.end(), control) == held.end()) held.push_back(control);
  }
  main_thread.Join();

  std::lock_guard<std::mutex> lock(dispatcher.mu);
  dispatcher.running = false;
  dispatcher.handler = nullptr;
  return started;
}

bool RegisterServiceControlHandler(const std::u16string& service_name,
                                   ServiceControlHandler handler) {
  Dispatcher& dispatcher = TheDispatcher();
  std::lock_guard<std::mutex> lock(dispatcher.mu);
  if (!dispatcher.running || dispatcher.name != service_name || !handler) return false;
  dispatcher.handler = std::move(handler);
  dispatcher.accepted_changed.Set();
  return true;
}

void DeliverServiceControl(uint32_t control) {
  ServiceControlHandler handler;
  {
    Dispatcher& dispatcher = TheDispatcher();
    std::lock_guard<std::mutex> lock(dispatcher.mu);
    handler = dispatcher.handler;
  }
  if (handler) handler(control);
}

bool ReportServiceStatus(const ServiceStatus& status) {
  std::string name;
  {
    Dispatcher& dispatcher = TheDispatcher();
    std::lock_guard<std::mutex> lock(dispatcher.mu);
    name = WideToNarrow(dispatcher.name);
    if (dispatcher.accepted != status.controls_accepted) {
      dispatcher.accepted = status.controls_accepted;
      dispatcher.accepted_changed.Set();
    }
  }
  const std::string text = name + " " + StateName(status.current_state) + " (check point " +
                           std::to_string(status.check_point) + ", wait hint " +
                           std::to_string(status.wait_hint_ms) + " ms)";
  std::fprintf(stderr, "quillaro: %s\n", text.c_str());

  std::string message = "STATUS=" + text;
  if (status.current_state == kServiceRunning) message += "\nREADY=1";
  if (status.current_state == kServiceStopPending) message += "\nSTOPPING=1";
  // Without NOTIFY_SOCKET sd_notify returns 0 and there is nobody to tell:
  // the report on standard error stands.
  return ::sd_notify(0, message.c_str()) >= 0;
}

}  // namespace quillaro

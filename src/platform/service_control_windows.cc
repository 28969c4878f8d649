#include "platform/service_control.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "platform/code_page.h"
#include "platform/event.h"
#include "platform/event_log_windows.h"
#include "platform/thread.h"
#include "platform/wait.h"
#include "platform/windows_util_windows.h"
// Needs <windows.h> before it.
#include <tlhelp32.h>

namespace quillaro {
namespace {

// The one service this process runs, shared by the dispatcher, the service's
// threads and the system's threads that deliver controls.
struct Dispatcher {
  std::mutex mu;  // every field below but the events
  std::u16string name;
  std::function<void()> service_main;
  ServiceControlHandler handler;
  bool running = false;
  SERVICE_STATUS_HANDLE status_handle = nullptr;  // set under the control manager
  uint32_t accepted = 0;
  std::vector<uint32_t> held;       // console controls not yet accepted
  ManualResetEvent changed{false};  // held or accepted changed (console mode)
};

Dispatcher& TheDispatcher() {
  static Dispatcher* dispatcher = new Dispatcher();
  return *dispatcher;
}

const char* StateName(uint32_t state) {
  switch (state) {
    case kServiceStopped:
      return "stopped";
    case kServiceStartPending:
      return "start pending";
    case kServiceStopPending:
      return "stop pending";
    case kServiceRunning:
      return "running";
    default:
      return "unknown state";
  }
}

bool Accepts(uint32_t accepted, uint32_t control) {
  switch (control) {
    case kServiceControlStop:
      return (accepted & kServiceAcceptStop) != 0;
    case kServiceControlShutdown:
      return (accepted & kServiceAcceptShutdown) != 0;
    default:
      return true;
  }
}

// The control manager calls this on a thread of its own.
void WINAPI ControlTrampoline(DWORD control) { DeliverServiceControl(control); }

void WINAPI ServiceMainTrampoline(DWORD, LPWSTR*) {
  // Run by the control manager: the error lines go to the event log too.
  EnableEventLogReports();
  std::function<void()> service_main;
  {
    Dispatcher& dispatcher = TheDispatcher();
    std::lock_guard<std::mutex> lock(dispatcher.mu);
    service_main = dispatcher.service_main;
  }
  service_main();
}

// Started from a console: Ctrl-C, Ctrl-Break and closing the window stop the
// service, as SIGINT and SIGTERM do on Linux; held until the service accepts.
BOOL WINAPI ConsoleTrampoline(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
    return FALSE;
  }
  Dispatcher& dispatcher = TheDispatcher();
  std::lock_guard<std::mutex> lock(dispatcher.mu);
  if (std::find(dispatcher.held.begin(), dispatcher.held.end(), kServiceControlStop) ==
      dispatcher.held.end()) {
    dispatcher.held.push_back(kServiceControlStop);
  }
  dispatcher.changed.Set();
  return TRUE;
}

// The console mode's dispatcher: runs the service and hands it held
// controls once its status accepts them.
bool RunInConsole(const std::function<void()>& service_main) {
  Dispatcher& dispatcher = TheDispatcher();
  ManualResetEvent ended(false);
  Thread main_thread;
  ::SetConsoleCtrlHandler(ConsoleTrampoline, TRUE);
  const bool started = main_thread.Start([&] {
    service_main();
    ended.Set();
  });
  while (started && WaitAny({ended, dispatcher.changed}, kInfinite) == 1) {
    std::vector<uint32_t> ready;
    ServiceControlHandler handler;
    {
      std::lock_guard<std::mutex> lock(dispatcher.mu);
      dispatcher.changed.Reset();
      if (!dispatcher.handler) continue;
      handler = dispatcher.handler;
      for (auto it = dispatcher.held.begin(); it != dispatcher.held.end();) {
        if (Accepts(dispatcher.accepted, *it)) {
          ready.push_back(*it);
          it = dispatcher.held.erase(it);
        } else {
          ++it;
        }
      }
    }
    for (uint32_t control : ready) handler(control);
  }
  main_thread.Join();
  ::SetConsoleCtrlHandler(ConsoleTrampoline, FALSE);
  return started;
}

// Whether the control manager (services.exe) started this process. Asking
// StartServiceCtrlDispatcherW instead costs ten seconds under Wine when the
// answer is no.
bool StartedByControlManager() {
  UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot.Valid()) return true;  // cannot tell: let the dispatcher find out
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof entry;
  const DWORD self = ::GetCurrentProcessId();
  DWORD parent = 0;
  for (BOOL more = ::Process32FirstW(snapshot.Get(), &entry); more;
       more = ::Process32NextW(snapshot.Get(), &entry)) {
    if (entry.th32ProcessID == self) parent = entry.th32ParentProcessID;
  }
  for (BOOL more = ::Process32FirstW(snapshot.Get(), &entry); more;
       more = ::Process32NextW(snapshot.Get(), &entry)) {
    if (entry.th32ProcessID == parent) return ::_wcsicmp(entry.szExeFile, L"services.exe") == 0;
  }
  return false;
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
    dispatcher.service_main = service_main;
    dispatcher.handler = nullptr;
    dispatcher.status_handle = nullptr;
    dispatcher.accepted = 0;
    dispatcher.held.clear();
  }
  std::wstring name = ToWin(service_name);
  SERVICE_TABLE_ENTRYW table[] = {{name.data(), ServiceMainTrampoline}, {nullptr, nullptr}};
  const bool by_manager = StartedByControlManager();
  bool ran = by_manager && ::StartServiceCtrlDispatcherW(table) != 0;
  // Not started by the control manager: run in the foreground until Ctrl-C.
  if (!ran && (!by_manager || ::GetLastError() == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT)) {
    ran = RunInConsole(service_main);
  }
  std::lock_guard<std::mutex> lock(dispatcher.mu);
  dispatcher.running = false;
  dispatcher.handler = nullptr;
  dispatcher.status_handle = nullptr;
  return ran;
}

bool RegisterServiceControlHandler(const std::u16string& service_name,
                                   ServiceControlHandler handler) {
  Dispatcher& dispatcher = TheDispatcher();
  std::lock_guard<std::mutex> lock(dispatcher.mu);
  if (!dispatcher.running || dispatcher.name != service_name || !handler) return false;
  dispatcher.handler = std::move(handler);
  // Under the control manager; in a console this fails and the console
  // dispatcher delivers instead.
  dispatcher.status_handle =
      ::RegisterServiceCtrlHandlerW(ToWin(service_name).c_str(), ControlTrampoline);
  dispatcher.changed.Set();
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
  Dispatcher& dispatcher = TheDispatcher();
  std::string name;
  SERVICE_STATUS_HANDLE status_handle;
  {
    std::lock_guard<std::mutex> lock(dispatcher.mu);
    name = WideToNarrow(dispatcher.name);
    status_handle = dispatcher.status_handle;
    if (dispatcher.accepted != status.controls_accepted) {
      dispatcher.accepted = status.controls_accepted;
      dispatcher.changed.Set();
    }
  }
  std::fprintf(stderr, "quillaro: %s %s (check point %u, wait hint %u ms)\n", name.c_str(),
               StateName(status.current_state), static_cast<unsigned>(status.check_point),
               static_cast<unsigned>(status.wait_hint_ms));
  if (status_handle == nullptr) return true;  // a console has nobody else to tell
  SERVICE_STATUS report = {};
  report.dwServiceType = status.service_type;
  report.dwCurrentState = status.current_state;
  report.dwControlsAccepted = status.controls_accepted;
  report.dwWin32ExitCode = status.win32_exit_code;
  report.dwServiceSpecificExitCode = status.service_specific_exit_code;
  report.dwCheckPoint = status.check_point;
  report.dwWaitHint = status.wait_hint_ms;
  return ::SetServiceStatus(status_handle, &report) != 0;
}

}  // namespace quillaro

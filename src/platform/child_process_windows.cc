#include "platform/child_process.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/bounded_stream.h"
#include "platform/cancellation.h"
#include "platform/child_confinement.h"
#include "platform/code_page.h"
#include "platform/module_path.h"
#include "platform/monotonic_clock.h"
#include "platform/os_error.h"
#include "platform/private_folder.h"
#include "platform/windows_util_windows.h"

namespace quillaro {
namespace {

// A child writing a lot at once must not stall on a small pipe buffer while
// the runner waits for something else.
constexpr DWORD kPipeBufferBytes = 1 << 20;
constexpr DWORD kReadChunkBytes = 64 * 1024;
// After the whole process tree is killed the pipe reaches its end at once;
// this only bounds the wait should a system keep it open.
constexpr DWORD kFinalDrainMs = 5000;

// The event's kernel object, whatever integer or pointer type the platform
// layer carries it in.
template <typename Native>
HANDLE EventHandle(Native native) {
  if constexpr (std::is_pointer_v<Native>) {
    return static_cast<HANDLE>(native);
  } else {
    return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(native));
  }
}

OsError ErrorOf(const char* call, DWORD code, std::string path) {
  return OsError{call, static_cast<int>(code), std::move(path)};
}

// Windows compares variable names without regard to case.
bool SameName(std::wstring_view a, std::wstring_view b) {
  return a.size() == b.size() &&
         ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// The service's environment with TEMP and TMP pointing at the run's scratch
// folder and the run's own variables in place of any of the same name, as a
// block of NUL-terminated "name=value" strings ending in an empty one,
// sorted by name as Windows expects.
std::wstring ChildEnvironmentBlock(const std::wstring& scratch,
                                   const ProcessRunner::Environment& overrides) {
  // The scratch folder wins over a run's own TEMP or TMP, as it does on Linux.
  std::vector<std::pair<std::wstring, std::wstring>> set = {{L"TEMP", scratch}, {L"TMP", scratch}};
  for (const auto& [name, value] : overrides) {
    std::wstring wide_name = ToWin(name);
    const bool named = std::any_of(set.begin(), set.end(), [&](const auto& variable_set) {
      return SameName(wide_name, variable_set.first);
    });
    if (!named) set.emplace_back(std::move(wide_name), ToWin(value));
  }

  std::vector<std::wstring> entries;
  if (wchar_t* strings = ::GetEnvironmentStringsW()) {
    for (const wchar_t* entry = strings; *entry != L'\0'; entry += wcslen(entry) + 1) {
      const std::wstring_view variable(entry);
      // Entries such as "=C:=C:\work" (per-drive folders) start with '='.
      const size_t equals = variable.find(L'=', 1);
      const std::wstring_view name = variable.substr(0, equals);
      const bool replaced = std::any_of(set.begin(), set.end(), [&](const auto& variable_set) {
        return SameName(name, variable_set.first);
      });
      if (!replaced) entries.emplace_back(variable);
    }
    ::FreeEnvironmentStringsW(strings);
  }
  for (const auto& [name, value] : set) entries.push_back(name + L"=" + value);
  std::stable_sort(
      entries.begin(), entries.end(), [](const std::wstring& a, const std::wstring& b) {
        return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.find(L'=', 1)), b.c_str(),
                                      static_cast<int>(b.find(L'=', 1)), TRUE) == CSTR_LESS_THAN;
      });
  std::wstring block;
  for (const std::wstring& entry : entries) {
    block += entry;
    block.push_back(L'\0');
  }
  block.push_back(L'\0');
  return block;
}

// A pipe the child writes its standard output or error into: the runner's
// end is read overlapped, so that its data can be waited for together with
// the child's end and the cancel event.
struct OutputPipe {
  UniqueHandle read;   // overlapped, not inheritable
  UniqueHandle write;  // inheritable, for the child
};

std::optional<OutputPipe> MakeOutputPipe(OsError* error, const std::string& program) {
  static std::atomic<uint32_t> serial{0};
  const std::wstring name = L"\\\\.\\pipe\\quillaro-run-" +
                            std::to_wstring(::GetCurrentProcessId()) + L"-" +
                            std::to_wstring(serial.fetch_add(1));
  OutputPipe pipe;
  pipe.read.Reset(::CreateNamedPipeW(
      name.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
      PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
      kPipeBufferBytes, kPipeBufferBytes, 0, nullptr));
  if (!pipe.read.Valid()) {
    FailWith(error, ErrorOf("CreateNamedPipeW", ::GetLastError(), program));
    return std::nullopt;
  }
  SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
  pipe.write.Reset(::CreateFileW(name.c_str(), GENERIC_WRITE, 0, &inheritable, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!pipe.write.Valid()) {
    FailWith(error, ErrorOf("CreateFileW", ::GetLastError(), program));
    return std::nullopt;
  }
  return pipe;
}

// One overlapped read at a time on the runner's end of an output pipe. What
// it reads goes to `output`, and also to `copy` when not null.
class PipeReader {
 public:
  PipeReader(HANDLE pipe, BoundedStream& output, BoundedStream* copy = nullptr)
      : pipe_(pipe), output_(output), copy_(copy) {
    event_.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  }
  PipeReader(const PipeReader&) = delete;
  PipeReader& operator=(const PipeReader&) = delete;
  ~PipeReader() {
    if (pending_) {
      ::CancelIoEx(pipe_, &overlapped_);
      DWORD count = 0;
      ::GetOverlappedResult(pipe_, &overlapped_, &count, TRUE);
    }
  }

  bool Valid() const { return event_.Valid(); }
  bool open() const { return open_; }
  // Signalled when the pending read has completed.
  HANDLE event() const { return event_.Get(); }

  // Takes what completed and starts the next read, appending everything
  // that is already there. Afterwards either a read is pending (open()) or
  // the pipe is at its end (every writer gone) or broken.
  void Advance() {
    while (open_) {
      DWORD count = 0;
      if (pending_) {
        if (!::GetOverlappedResult(pipe_, &overlapped_, &count, FALSE)) {
          const DWORD code = ::GetLastError();
          if (code == ERROR_IO_INCOMPLETE) return;
          pending_ = false;
          open_ = code == ERROR_MORE_DATA;
          if (!open_) return;
        }
        pending_ = false;
        output_.Append(buffer_, count);
        if (copy_ != nullptr) copy_->Append(buffer_, count);
      }
      overlapped_ = {};
      overlapped_.hEvent = event_.Get();
      if (::ReadFile(pipe_, buffer_, kReadChunkBytes, nullptr, &overlapped_)) {
        pending_ = true;  // completed at once; taken on the next turn
        continue;
      }
      const DWORD code = ::GetLastError();
      if (code == ERROR_IO_PENDING) {
        pending_ = true;
        return;
      }
      open_ = false;  // ERROR_BROKEN_PIPE: every writer has closed its end
    }
  }

 private:
  HANDLE pipe_;
  BoundedStream& output_;
  BoundedStream* copy_;
  UniqueHandle event_;
  OVERLAPPED overlapped_ = {};
  bool pending_ = false;
  bool open_ = true;
  char buffer_[kReadChunkBytes];
};

// Waits for the child's end, its output, the deadline and the cancel event
// together. Returns true when the child ended by itself, false when the
// deadline passed or the work was cancelled.
bool Supervise(HANDLE process, const std::vector<PipeReader*>& readers, uint64_t deadline_ms) {
  const ManualResetEvent* cancel = CurrentCancellation();
  for (;;) {
    const uint64_t now = MonotonicMilliseconds();
    if (now >= deadline_ms) return false;
    const uint64_t left_ms = deadline_ms - now;
    HANDLE handles[4];
    PipeReader* reading[2] = {};
    DWORD count = 0;
    // Output has the lowest indexes, so that whatever the child wrote before
    // it ended or was stopped is kept.
    for (PipeReader* reader : readers) {
      if (reader->open() && count < 2) {
        reading[count] = reader;
        handles[count++] = reader->event();
      }
    }
    const DWORD readers_open = count;
    const DWORD process_index = count;
    handles[count++] = process;
    const DWORD cancel_index = cancel != nullptr ? count : MAXDWORD;
    if (cancel != nullptr) handles[count++] = EventHandle(cancel->native_handle());
    const DWORD ready = ::WaitForMultipleObjects(
        count, handles, FALSE, static_cast<DWORD>(std::min<uint64_t>(left_ms, INFINITE - 1)));
    if (ready == WAIT_TIMEOUT) return false;
    if (ready >= WAIT_OBJECT_0 + count) return false;  // cannot wait any more
    const DWORD index = ready - WAIT_OBJECT_0;
    if (index < readers_open) {
      reading[index]->Advance();
    } else if (index == cancel_index) {
      return false;
    } else if (index == process_index) {
      return true;
    }
  }
}

}  // namespace

int ProcessRunner::Run(const std::u16string& application, const std::u16string& command_line,
                       std::string& output, int32_t time_limit_seconds, OsError* error,
                       const Options& options) {
  const uint64_t start_ms = MonotonicMilliseconds();
  if (CancellationRequested()) return kTimedOut;

  const std::string program = WideToNarrow(application);
  // A run given no folder gets one of its own for its temporary files,
  // removed with everything in it when the run ends.
  std::unique_ptr<PrivateFolder> scratch;
  if (options.private_folder.empty()) {
    scratch = PrivateFolder::Make(error);
    if (!scratch) return kCannotStart;
  }
  const std::string& private_folder = scratch ? scratch->path() : options.private_folder;
  std::wstring environment = ChildEnvironmentBlock(ToWin(private_folder), options.environment);
  // The child's token and the job object of this run: destroying the job
  // kills the child's whole tree.
  std::optional<PreparedConfinement> confinement;
  confinement.emplace(InterpreterConfinement(ModuleFolder(), private_folder));

  auto cannot_start = [&](const char* call, DWORD code) {
    FailWith(error, ErrorOf(call, code, program));
    return kCannotStart;
  };
  std::intptr_t child_token = -1;
  const char* token_call = "";
  if (const int code = confinement->ChildToken(&child_token, &token_call); code != 0) {
    return cannot_start(token_call, static_cast<DWORD>(code));
  }
  std::optional<OutputPipe> pipe = MakeOutputPipe(error, program);
  if (!pipe) return kCannotStart;
  // Standard error gets a pipe of its own when its reader wants it alone:
  // interpreter devices report there, and what a job prints goes to
  // standard output, so that the job cannot write lines the device seems
  // to have written.
  std::optional<OutputPipe> error_pipe;
  if (options.error_output != nullptr) {
    error_pipe = MakeOutputPipe(error, program);
    if (!error_pipe) return kCannotStart;
  }
  SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
  UniqueHandle null_input(::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        &inheritable, OPEN_EXISTING, 0, nullptr));
  if (!null_input.Valid()) return cannot_start("CreateFileW", ::GetLastError());

  // Only these handles go to the child, even while other threads start
  // children of their own with other inheritable handles.
  HANDLE inherited[3] = {null_input.Get(), pipe->write.Get(),
                         error_pipe ? error_pipe->write.Get() : nullptr};
  const SIZE_T inherited_count = error_pipe ? 3 : 2;
  SIZE_T attribute_bytes = 0;
  ::InitializeProcThreadAttributeList(nullptr, 1, 0, &attribute_bytes);
  std::vector<char> attribute_storage(attribute_bytes);
  auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attribute_storage.data());
  if (!::InitializeProcThreadAttributeList(attributes, 1, 0, &attribute_bytes)) {
    return cannot_start("InitializeProcThreadAttributeList", ::GetLastError());
  }
  struct AttributeListOwner {
    LPPROC_THREAD_ATTRIBUTE_LIST list;
    ~AttributeListOwner() { ::DeleteProcThreadAttributeList(list); }
  } attribute_owner{attributes};
  if (!::UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                   inherited_count * sizeof(HANDLE), nullptr, nullptr)) {
    return cannot_start("UpdateProcThreadAttribute", ::GetLastError());
  }

  STARTUPINFOEXW startup = {};
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdInput = null_input.Get();
  startup.StartupInfo.hStdOutput = pipe->write.Get();
  startup.StartupInfo.hStdError = error_pipe ? error_pipe->write.Get() : pipe->write.Get();
  startup.lpAttributeList = attributes;

  const std::wstring wide_application = ToWin(application);
  // CreateProcessW may write into the command line it is given.
  std::wstring mutable_line = ToWin(command_line);
  PROCESS_INFORMATION started = {};
  // Under the run's own token: a restricted token made from the service's
  // own needs no privilege to be assigned. Suspended, so that the child is
  // in the job before it runs a single instruction or starts a process of
  // its own.
  if (!::CreateProcessAsUserW(reinterpret_cast<HANDLE>(child_token), wide_application.c_str(),
                              mutable_line.data(), nullptr, nullptr, TRUE,
                              CREATE_SUSPENDED | CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT |
                                  EXTENDED_STARTUPINFO_PRESENT,
                              environment.data(), nullptr, &startup.StartupInfo, &started)) {
    return cannot_start("CreateProcessAsUserW", ::GetLastError());
  }
  UniqueHandle process(started.hProcess);
  UniqueHandle thread(started.hThread);
  const char* failed_call = "";
  if (const int code = confinement->ApplyToChild(
          reinterpret_cast<ChildProcessHandle>(process.Get()), &failed_call);
      code != 0) {
    ::TerminateProcess(process.Get(), ERROR_ACCESS_DENIED);
    ::WaitForSingleObject(process.Get(), INFINITE);
    return cannot_start(failed_call, static_cast<DWORD>(code));
  }
  if (::ResumeThread(thread.Get()) == static_cast<DWORD>(-1)) {
    const DWORD code = ::GetLastError();
    confinement.reset();
    ::WaitForSingleObject(process.Get(), INFINITE);
    return cannot_start("ResumeThread", code);
  }
  thread.Reset();
  // The child holds its own copies now; the pipe ends when the last of its
  // tree's copies closes.
  pipe->write.Reset();
  if (error_pipe) error_pipe->write.Reset();
  null_input.Reset();

  // Both streams reach `output`, in the order they are read, and the error
  // stream's reader also gets standard error alone; of each, a bounded
  // part is kept.
  BoundedStream all{kKeptOutputBytes, kKeptOutputBytes};
  BoundedStream errors{kMaxErrorStreamBytes, 0};
  PipeReader reader(pipe->read.Get(), all);
  std::optional<PipeReader> error_reader;
  if (error_pipe) error_reader.emplace(error_pipe->read.Get(), all, &errors);
  if (!reader.Valid() || (error_reader && !error_reader->Valid())) {
    const DWORD code = ::GetLastError();
    confinement.reset();
    ::WaitForSingleObject(process.Get(), INFINITE);
    return cannot_start("CreateEventW", code);
  }
  std::vector<PipeReader*> readers = {&reader};
  if (error_reader) readers.push_back(&*error_reader);
  for (PipeReader* each : readers) each->Advance();

  const int64_t limit_seconds = time_limit_seconds < 0 ? 0 : time_limit_seconds;
  const uint64_t deadline_ms = start_ms + static_cast<uint64_t>(limit_seconds + 1) * 1000;
  const bool ended = Supervise(process.Get(), readers, deadline_ms);

  // Whatever the child started is stopped with it: closing the job kills
  // every process still in it.
  confinement.reset();
  ::WaitForSingleObject(process.Get(), INFINITE);
  // Every writer is gone now; take what is still in the pipe.
  const uint64_t drain_end_ms = MonotonicMilliseconds() + kFinalDrainMs;
  for (PipeReader* each : readers) {
    while (each->open()) {
      const uint64_t now = MonotonicMilliseconds();
      if (now >= drain_end_ms ||
          ::WaitForSingleObject(each->event(), static_cast<DWORD>(drain_end_ms - now)) !=
              WAIT_OBJECT_0) {
        break;
      }
      each->Advance();
    }
  }
  all.Finish(output);
  if (options.error_output != nullptr) errors.Finish(*options.error_output);
  if (!ended) return kTimedOut;
  DWORD exit_code = 0;
  if (!::GetExitCodeProcess(process.Get(), &exit_code)) return kCannotStart;
  return static_cast<int>(exit_code);
}

}  // namespace quillaro

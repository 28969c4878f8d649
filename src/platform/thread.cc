#include "platform/thread.h"

#include <memory>
#include <system_error>
#include <thread>

namespace quillaro {

struct Thread::State {
  // Shared with the running body, so finished stays valid after Detach().
  std::shared_ptr<ManualResetEvent> finished = std::make_shared<ManualResetEvent>(true);
  std::thread thread;
  bool started = false;
};

Thread::Thread() : state_(std::make_unique<State>()) {}

Thread::~Thread() { Join(); }

bool Thread::Start(std::function<void()> body, ThreadPriority priority, OsError* error) {
  if (state_->started) return false;
  state_->finished->Reset();
  std::shared_ptr<ManualResetEvent> finished = state_->finished;
  try {
    state_->thread = std::thread([body = std::move(body), finished, priority] {
      if (priority == ThreadPriority::kLowest) LowerCallingThreadPriority();
      body();
      finished->Set();
    });
  } catch (const std::system_error& failure) {
    const OsError why = ThreadStartError(failure.code().value());
    state_->finished->Set();
    return FailWith(error, why);
  }
  state_->started = true;
  return true;
}

bool Thread::Started() const { return state_->started; }

const ManualResetEvent& Thread::finished() const { return *state_->finished; }

void Thread::Join() {
  if (state_->thread.joinable()) state_->thread.join();
}

void Thread::Detach() {
  if (state_->thread.joinable()) state_->thread.detach();
}

}  // namespace quillaro

#include "platform/cancellation.h"

namespace quillaro {
namespace {

thread_local const ManualResetEvent* current_cancellation = nullptr;

}  // namespace

ScopedCancellation::ScopedCancellation(const ManualResetEvent& cancel)
    : previous_(current_cancellation) {
  current_cancellation = &cancel;
}

ScopedCancellation::~ScopedCancellation() { current_cancellation = previous_; }

const ManualResetEvent* CurrentCancellation() { return current_cancellation; }

bool CancellationRequested() {
  return current_cancellation != nullptr && current_cancellation->IsSet();
}

}  // namespace quillaro

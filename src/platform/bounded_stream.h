#ifndef QUILLARO_PLATFORM_BOUNDED_STREAM_H_
#define QUILLARO_PLATFORM_BOUNDED_STREAM_H_

#include <algorithm>
#include <cstddef>
#include <string>

namespace quillaro {

// Keeps the head and the tail of a stream, so that a child printing without
// end costs a bounded amount of memory; Finish() puts them together. Used by
// the process runners of both systems, each on the one thread that reads a
// run's pipes.
class BoundedStream {
 public:
  BoundedStream(size_t head_bytes, size_t tail_bytes)
      : head_bytes_(head_bytes), tail_bytes_(tail_bytes) {}

  void Append(const char* data, size_t size) {
    const size_t to_head = std::min(size, head_bytes_ - std::min(head_bytes_, head_.size()));
    head_.append(data, to_head);
    data += to_head;
    size -= to_head;
    if (size == 0) return;
    tail_.append(data, size);
    if (tail_.size() > 2 * tail_bytes_) {
      left_out_ += tail_.size() - tail_bytes_;
      tail_.erase(0, tail_.size() - tail_bytes_);
    }
  }

  // Appends what was kept to `target`, with one line in place of what was
  // left out.
  void Finish(std::string& target) {
    if (tail_.size() > tail_bytes_) {
      left_out_ += tail_.size() - tail_bytes_;
      tail_.erase(0, tail_.size() - tail_bytes_);
    }
    target += head_;
    if (left_out_ > 0) {
      target += "\n[quillaro: " + std::to_string(left_out_) + " bytes of output left out]\n";
    }
    target += tail_;
  }

 private:
  size_t head_bytes_;
  size_t tail_bytes_;
  std::string head_;
  std::string tail_;
  size_t left_out_ = 0;
};

}  // namespace quillaro

#endif  // QUILLARO_PLATFORM_BOUNDED_STREAM_H_

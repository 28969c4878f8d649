#ifndef QUILLARO_INSPECT_STREAM_FINDER_H_
#define QUILLARO_INSPECT_STREAM_FINDER_H_

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quillaro {

// Finds the first occurrence of a fixed byte pattern in text that arrives in
// pieces (a line read piece by piece), also where the pattern straddles two
// pieces. Holds no more than the pattern's length in bytes.
class StreamFinder {
 public:
  // `pattern` must not be empty.
  explicit StreamFinder(std::string pattern);

  // Searches `piece`, the text that follows everything fed before. Returns,
  // for the piece in which the first occurrence is completed, the offset in
  // `piece` just past its end; nothing for every other piece, and nothing
  // once the pattern has been found.
  std::optional<size_t> Feed(std::string_view piece);
  bool found() const { return found_; }

 private:
  std::string pattern_;
  std::string tail_;  // the last pattern length - 1 bytes fed so far
  bool found_ = false;
};

}  // namespace quillaro

#endif  // QUILLARO_INSPECT_STREAM_FINDER_H_

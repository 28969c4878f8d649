#include "inspect/stream_finder.h"

#include <utility>

namespace quillaro {

StreamFinder::StreamFinder(std::string pattern) : pattern_(std::move(pattern)) {}

std::optional<size_t> StreamFinder::Feed(std::string_view piece) {
  if (found_ || pattern_.empty()) return std::nullopt;
  const size_t keep = pattern_.size() - 1;
  // An occurrence that begins in earlier pieces ends within the first
  // `keep` bytes of this one.
  if (!tail_.empty()) {
    std::string seam = tail_;
    seam.append(piece.substr(0, keep));
    const size_t at = seam.find(pattern_);
    if (at != std::string::npos) {
      found_ = true;
      return at + pattern_.size() - tail_.size();
    }
  }
  const size_t at = piece.find(pattern_);
  if (at != std::string_view::npos) {
    found_ = true;
    return at + pattern_.size();
  }
  if (piece.size() >= keep) {
    tail_.assign(piece.substr(piece.size() - keep));
  } else {
    tail_.append(piece);
    if (tail_.size() > keep) tail_.erase(0, tail_.size() - keep);
  }
  return std::nullopt;
}

}  // namespace quillaro

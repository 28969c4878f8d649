#include "inspect/text_mode_reader.h"

#include <cstring>

#include "platform/file_system.h"

namespace quillaro {
namespace {

constexpr char kEndOfData = 0x1A;

}  // namespace

// 64 KiB: large enough that a 100 MB line costs few reads, small enough to be
// the whole memory a reader takes.
TextModeReader::TextModeReader(size_t block_bytes)
    : block_bytes_(block_bytes == 0 ? 1 : block_bytes) {}
TextModeReader::~TextModeReader() = default;

bool TextModeReader::Open(const std::string& path) {
  // Never through a link, never a pipe: only a regular file is a job.
  file_.reset(OpenRegularFileForReading(path));
  raw_.assign(block_bytes_, 0);
  // One extra byte: a CR held back from the previous block may precede a
  // whole block of data.
  cooked_.assign(block_bytes_ + 1, 0);
  cooked_begin_ = cooked_end_ = 0;
  carry_cr_ = false;
  data_ended_ = file_ == nullptr;
  in_line_ = false;
  return file_ != nullptr;
}

bool TextModeReader::Fill() {
  while (cooked_begin_ == cooked_end_) {
    if (data_ended_) return false;
    const size_t got = std::fread(raw_.data(), 1, raw_.size(), file_.get());
    cooked_begin_ = cooked_end_ = 0;
    if (got == 0) {
      // A CR at the very end of the file has no LF to join.
      if (carry_cr_) cooked_[cooked_end_++] = '\r';
      carry_cr_ = false;
      data_ended_ = true;
      continue;
    }
    size_t i = 0;
    if (carry_cr_) {
      carry_cr_ = false;
      if (raw_[0] != '\n') cooked_[cooked_end_++] = '\r';
    }
    for (; i < got; ++i) {
      const char c = raw_[i];
      if (c == kEndOfData) {
        data_ended_ = true;
        break;
      }
      if (c == '\r') {
        if (i + 1 == got) {
          // Whether this CR is half of a CR LF pair shows in the next block.
          carry_cr_ = true;
          break;
        }
        if (raw_[i + 1] == '\n') continue;  // the LF alone is delivered
      }
      cooked_[cooked_end_++] = c;
    }
  }
  return true;
}

bool TextModeReader::ReadByte(unsigned char& byte) {
  if (!Fill()) return false;
  byte = static_cast<unsigned char>(cooked_[cooked_begin_++]);
  return true;
}

bool TextModeReader::NextLine() {
  if (in_line_) SkipRestOfLine();
  in_line_ = Fill();
  return in_line_;
}

std::string_view TextModeReader::LinePiece(size_t max_bytes) {
  if (!in_line_ || max_bytes == 0) return {};
  if (!Fill()) {
    in_line_ = false;
    return {};
  }
  const char* begin = cooked_.data() + cooked_begin_;
  const size_t available = cooked_end_ - cooked_begin_;
  const size_t span = available < max_bytes ? available : max_bytes;
  const void* line_feed = std::memchr(begin, '\n', span);
  if (line_feed != nullptr) {
    const size_t length = static_cast<size_t>(static_cast<const char*>(line_feed) - begin);
    cooked_begin_ += length + 1;
    in_line_ = false;
    return {begin, length};
  }
  cooked_begin_ += span;
  return {begin, span};
}

void TextModeReader::SkipRestOfLine() {
  while (in_line_) LinePiece();
}

}  // namespace quillaro

#ifndef QUILLARO_INSPECT_TEXT_MODE_READER_H_
#define QUILLARO_INSPECT_TEXT_MODE_READER_H_

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "platform/unique_file.h"

namespace quillaro {

// Reads a job file the way a Windows C runtime stream opened in text mode
// delivers it, so that the language and PJL tests give the same answers for
// the same bytes on every platform:
//   - CR LF is delivered as a single LF; a CR not followed by LF stays a CR;
//   - a byte 0x1A ends the data as if the file ended there.
// On top of the bytes it offers lines (ending at LF, which is not part of the
// line) in pieces, so that a caller never has to hold a whole line: a line of
// raster data may run for megabytes. The reader itself holds a fixed buffer
// whatever the file looks like. One reader serves one thread.
class TextModeReader {
 public:
  // Reads the file in blocks of `block_bytes` (at least 1): the reader's
  // whole memory. The default suits every caller; tests choose tiny blocks
  // to put line ends and CR LF pairs on block boundaries.
  static constexpr size_t kDefaultBlockBytes = 64 * 1024;
  explicit TextModeReader(size_t block_bytes = kDefaultBlockBytes);
  TextModeReader(const TextModeReader&) = delete;
  TextModeReader& operator=(const TextModeReader&) = delete;
  ~TextModeReader();

  // Opens `path` for reading (other readers and writers keep their access).
  // Returns false when it cannot be opened; every read then reports the end.
  bool Open(const std::string& path);

  // Delivers the next byte of the data. False at the end of the data.
  bool ReadByte(unsigned char& byte);

  // Starts the next line, skipping what is left of the current one. False
  // when no line can be read: the data has ended (a last line without LF is
  // still a line; an empty file has none).
  bool NextLine();
  // The next piece of the current line, at most `max_bytes` (not 0) long;
  // valid until the next call on the reader. Empty once the line has ended
  // (its LF is then consumed). The pieces of a line joined are the line.
  std::string_view LinePiece(size_t max_bytes = static_cast<size_t>(-1));
  // Consumes the rest of the current line, LF included.
  void SkipRestOfLine();

 private:
  // Makes translated data available; false when the data has ended.
  bool Fill();

  UniqueFile file_;
  size_t block_bytes_;
  std::vector<char> raw_;     // bytes as read from the file
  std::vector<char> cooked_;  // the same bytes after text-mode translation
  size_t cooked_begin_ = 0;   // next unread byte in cooked_
  size_t cooked_end_ = 0;
  bool carry_cr_ = false;     // a CR ended the previous raw block
  bool data_ended_ = false;   // end of file or 0x1A seen
  bool in_line_ = false;      // NextLine() started a line whose LF is unread
};

}  // namespace quillaro

#endif  // QUILLARO_INSPECT_TEXT_MODE_READER_H_

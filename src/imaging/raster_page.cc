#include "imaging/raster_page.h"

#include <cstdio>
#include <cstring>
#include <limits>

#include "platform/file_system.h"

namespace quillaro {
namespace {

// Enough for "P6", a comment line such as Ghostscript writes, the size and
// the sample range; a longer header is left to the image library.
constexpr size_t kHeaderReadBytes = 512;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Reads the header fields of a PNM file: blanks and "#" comments before each
// number, then the number in decimal. `at` moves past what was read.
class HeaderReader {
 public:
  HeaderReader(const char* bytes, size_t size) : bytes_(bytes), size_(size) {}

  std::optional<uint64_t> Number() {
    for (;;) {
      if (at_ == size_) return std::nullopt;
      if (bytes_[at_] == '#') {
        while (at_ < size_ && bytes_[at_] != '\n' && bytes_[at_] != '\r') ++at_;
      } else if (IsSpace(bytes_[at_])) {
        ++at_;
      } else {
        break;
      }
    }
    uint64_t value = 0;
    size_t digits = 0;
    while (at_ < size_ && bytes_[at_] >= '0' && bytes_[at_] <= '9' && digits < 10) {
      value = value * 10 + static_cast<uint64_t>(bytes_[at_++] - '0');
      ++digits;
    }
    if (digits == 0 || (at_ < size_ && bytes_[at_] >= '0' && bytes_[at_] <= '9')) {
      return std::nullopt;
    }
    return value;
  }
  // The single blank that ends the header; the pixels follow it.
  bool EndOfHeader() {
    if (at_ == size_ || !IsSpace(bytes_[at_])) return false;
    ++at_;
    return true;
  }
  size_t position() const { return at_; }

 private:
  const char* bytes_;
  size_t size_;
  size_t at_ = 2;  // past "P6"
};

}  // namespace

std::optional<RasterPage> RasterPage::Read(const std::string& path, size_t max_bytes) {
  std::unique_ptr<std::FILE, FileCloser> file(OpenRegularFileForReading(path));
  if (!file) return std::nullopt;
  char header[kHeaderReadBytes];
  const size_t header_read = std::fread(header, 1, sizeof header, file.get());
  if (header_read < 2 || header[0] != 'P' || header[1] != '6') return std::nullopt;
  HeaderReader reader(header, header_read);
  const std::optional<uint64_t> width = reader.Number();
  const std::optional<uint64_t> height = reader.Number();
  const std::optional<uint64_t> max_value = reader.Number();
  if (!width || !height || !max_value || !reader.EndOfHeader()) return std::nullopt;
  if (*max_value != 255 || *width == 0 || *height == 0) return std::nullopt;
  constexpr uint64_t kMaxSide = std::numeric_limits<int32_t>::max();
  if (*width > kMaxSide || *height > kMaxSide) return std::nullopt;
  // Both sides are below 2^31, so the product cannot overflow 64 bits.
  const uint64_t size = *width * *height * 3;
  if (size > max_bytes) return std::nullopt;

  RasterPage page;
  page.width_ = static_cast<int32_t>(*width);
  page.height_ = static_cast<int32_t>(*height);
  page.pixels_.reset(new uint8_t[size]);
  const size_t in_header = std::min<size_t>(header_read - reader.position(), size);
  std::memcpy(page.pixels_.get(), header + reader.position(), in_header);
  const size_t rest = size - in_header;
  if (rest > 0 && std::fread(page.pixels_.get() + in_header, 1, rest, file.get()) != rest) {
    return std::nullopt;  // cut short: the run that wrote it was stopped
  }
  return page;
}

}  // namespace quillaro

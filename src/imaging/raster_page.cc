#include "imaging/raster_page.h"

#include <cstdio>
#include <cstring>
#include <limits>
#include <string_view>

#include "platform/file_system.h"
#include "platform/pnm_header.h"
#include "platform/unique_file.h"

namespace quillaro {
namespace {

// Enough for "P6", a comment line such as Ghostscript writes, the size and
// the sample range; a longer header is left to the image library.
constexpr size_t kHeaderReadBytes = 512;

}  // namespace

std::optional<RasterPage> RasterPage::Read(const std::string& path, size_t max_bytes) {
  UniqueFile file(OpenRegularFileForReading(path));
  if (!file) return std::nullopt;
  char header[kHeaderReadBytes];
  const size_t header_read = std::fread(header, 1, sizeof header, file.get());
  const std::optional<PnmHeader> pnm = ReadPnmHeader(std::string_view(header, header_read));
  if (!pnm || pnm->format != PnmFormat::kPixMap || pnm->max_value != 255) return std::nullopt;
  constexpr uint64_t kMaxSide = std::numeric_limits<int32_t>::max();
  if (pnm->width > kMaxSide || pnm->height > kMaxSide) return std::nullopt;
  // Both sides are below 2^31, so the product cannot overflow 64 bits.
  const uint64_t size = pnm->width * pnm->height * 3;
  if (size > max_bytes) return std::nullopt;

  RasterPage page;
  page.width_ = static_cast<int32_t>(pnm->width);
  page.height_ = static_cast<int32_t>(pnm->height);
  page.pixels_.reset(new uint8_t[size]);
  const size_t in_header = std::min<size_t>(header_read - pnm->pixel_offset, size);
  std::memcpy(page.pixels_.get(), header + pnm->pixel_offset, in_header);
  const size_t rest = size - in_header;
  if (rest > 0 && std::fread(page.pixels_.get() + in_header, 1, rest, file.get()) != rest) {
    return std::nullopt;  // cut short: the run that wrote it was stopped
  }
  return page;
}

}  // namespace quillaro

#ifndef QUILLARO_IMAGING_RASTER_PAGE_H_
#define QUILLARO_IMAGING_RASTER_PAGE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace quillaro {

// One rendered page file in the interpreters' uncompressed raster format,
// binary PPM ("P6", 8 bits per sample, as the ppmraw device writes it), read
// whole into memory so that colour coverage and image output share one read
// of its pixels. Move-only; owns its buffer. Used by one thread at a time.
class RasterPage {
 public:
  // Reads the page file at `path` (narrow, system code page). Returns
  // nullopt when it is not a complete binary PPM with samples of 8 bits
  // (missing, no PPM, other sample depth, header damaged, pixels cut short)
  // or when its pixels would take more than `max_bytes`: the caller then
  // leaves the file to the image library, as any other page file. A symbolic
  // link or anything but a regular file is not followed.
  static std::optional<RasterPage> Read(const std::string& path, size_t max_bytes);

  int32_t width() const { return width_; }
  int32_t height() const { return height_; }
  // width() x height() pixels of R, G, B, rows from the top, no padding.
  const uint8_t* rgb() const { return pixels_.get(); }

 private:
  RasterPage() = default;
  std::unique_ptr<uint8_t[]> pixels_;
  int32_t width_ = 0;
  int32_t height_ = 0;
};

}  // namespace quillaro

#endif  // QUILLARO_IMAGING_RASTER_PAGE_H_

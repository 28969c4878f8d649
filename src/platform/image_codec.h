#ifndef QUILLARO_PLATFORM_IMAGE_CODEC_H_
#define QUILLARO_PLATFORM_IMAGE_CODEC_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/os_error.h"

namespace quillaro {

// Starts the imaging library. Call once per process before any other call
// of this header (the service at start, a test program before its first
// test); further calls do nothing and return the first result. Returns false
// when the library cannot start, and then every image fails to open.
bool InitializeImaging();
// Releases what the imaging library holds. Call once, after the last image
// of this header has been destroyed; nothing of this header may be used after.
void ShutdownImaging();

// The file formats that images can be written in.
enum class ImageFileFormat { kJpeg, kGif, kPng, kTiff };

// One installed image encoder: the MIME type it is found by and the format
// it writes (the format stands for the encoder's class id).
struct ImageEncoderInfo {
  std::u16string_view mime_type;
  ImageFileFormat format;
};

// The installed encoders in a fixed order, each MIME type once. The list
// lives as long as the program.
std::span<const ImageEncoderInfo> InstalledImageEncoders();

// Decoded pixels in 8-bit RGB: three bytes (R, G, B) per pixel, rows from
// top to bottom without padding. Move-only; owns its buffer.
class RgbPixels {
 public:
  RgbPixels() = default;
  RgbPixels(RgbPixels&& other) noexcept;
  RgbPixels& operator=(RgbPixels&& other) noexcept;
  RgbPixels(const RgbPixels&) = delete;
  RgbPixels& operator=(const RgbPixels&) = delete;
  ~RgbPixels();

  const uint8_t* data() const { return data_; }
  size_t size_bytes() const { return size_; }

 private:
  friend class ImageFile;
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

// An image file opened for reading. Opening reads the header only; pixels
// are decoded by the calls below, each of which reads the file anew, so an
// ImageFile holds neither decoded pixels nor the open file between calls.
// Move-only. No call throws.
class ImageFile {
 public:
  // Opens the image at `path` (narrow, system code page). Returns nullopt
  // when the file does not exist, cannot be read or is no image the library
  // knows, when the image has no pixels, and when it would take more than
  // kMaxImageFileBytes as 8-bit RGB. A page file (`kind` kPage) is read
  // only in the formats pages are rendered in (PNM and PNG on Linux): it is
  // written by an interpreter a job drives, and no other decoder is given
  // what it holds. kAny reads every format the encoders write (JPEG, GIF,
  // PNG, TIFF), for looking at the service's own images.
  enum class Kind { kPage, kAny };
  static std::optional<ImageFile> Open(const std::string& path, Kind kind = Kind::kPage);

  // The largest image Open accepts, as 8-bit RGB: far above a page at
  // 100 dpi (A0 is 46 MB), far below what a job asking for an absurd page
  // size could make the service decode.
  static constexpr uint64_t kMaxImageFileBytes = uint64_t{256} << 20;

  ImageFile(ImageFile&& other) noexcept;
  ImageFile& operator=(ImageFile&& other) noexcept;
  ImageFile(const ImageFile&) = delete;
  ImageFile& operator=(const ImageFile&) = delete;
  ~ImageFile();

  int32_t width() const;
  int32_t height() const;

  // Decodes the whole image into 8-bit RGB. Grey images give R = G = B;
  // an alpha channel is dropped without being applied (the colour values
  // are taken as they are stored); 16-bit samples keep their high byte.
  // Returns nullopt when the image cannot be decoded completely (a damaged
  // or truncated file) or when its pixels would take more than `max_bytes`.
  std::optional<RgbPixels> ReadRgb(size_t max_bytes) const;

  // Decodes the image a row at a time from the top, in the same 8-bit RGB
  // form as ReadRgb, handing each row to `row(y, rgb)`; `rgb` holds width()
  // pixels and is valid during the call only. Stops at the first row that
  // cannot be decoded. Memory use does not depend on the image's height.
  // Returns the number of rows handed on.
  int32_t ReadRgbRows(
      const std::function<void(int32_t y, const uint8_t* rgb)>& row) const;

  // Scales the image to exactly `target_width` by `target_height` pixels with
  // a high-quality filter, flattens it onto opaque white, records 100 dots
  // per inch (where the format can hold a resolution) and writes it to
  // `path` in `format`, 24-bit RGB (GIF: at most 256 colours). `quality`
  // (clamped to 1..100) is given to every encoder that takes one. The file
  // is made anew: an existing entry of that name is removed first and a
  // link planted under it is never written through. Returns false when the
  // target size is not positive, the image cannot be decoded or the file
  // cannot be written; no partial file is left behind then. When the file
  // could not be created, `*error` (when not null) says why.
  bool SaveScaled(const std::string& path, int32_t target_width,
                  int32_t target_height, ImageFileFormat format,
                  int32_t quality, OsError* error = nullptr) const;

 private:
  struct Impl;
  explicit ImageFile(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

// Scales `width` x `height` pixels of 8-bit RGB at `rgb` (three bytes per
// pixel, rows from the top without padding; the caller keeps them alive and
// unchanged during the call) and writes them to `path` exactly as
// ImageFile::SaveScaled writes an image file of those pixels: the same
// filter, resolution, encoder settings and bytes. Returns false, leaving no
// partial file, and setting `*error` when the file could not be created, as
// SaveScaled does. Thread-safe.
bool SaveScaledRgb(const uint8_t* rgb, int32_t width, int32_t height,
                   const std::string& path, int32_t target_width,
                   int32_t target_height, ImageFileFormat format,
                   int32_t quality, OsError* error = nullptr);

}  // namespace quillaro

#endif  // QUILLARO_PLATFORM_IMAGE_CODEC_H_

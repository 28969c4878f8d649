// The image backend on Linux: libvips. Every libvips call stays in this file,
// and every libvips exception is caught here and turned into a result.

#include <fcntl.h>
#include <glib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>
#include <vips/vips8>

#include "platform/file_system.h"
#include "platform/image_codec.h"
#include "platform/pnm_header.h"
#include "platform/unique_file.h"
#include "platform/unique_fd_linux.h"

namespace quillaro {
namespace {

using vips::VError;
using vips::VImage;
using vips::VRegion;
using vips::VSource;
using vips::VTarget;

// libvips expects the resolution in pixels per millimetre.
constexpr double kPixelsPerMillimetreAt100Dpi = 100.0 / 25.4;

constexpr ImageEncoderInfo kEncoders[] = {
    {u"image/jpeg", ImageFileFormat::kJpeg},
    {u"image/gif", ImageFileFormat::kGif},
    {u"image/png", ImageFileFormat::kPng},
    {u"image/tiff", ImageFileFormat::kTiff},
};

// libvips reports damaged files as warnings on stderr, where the service's
// status lines go; the outcome already reaches the caller as a result.
void DropLibraryWarning(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

// Loads without option parsing of the name (a job's name may hold "[") and
// without the operation cache: a page file of the same name is a new page
// on every job, and cached pipelines would keep pages alive after their job.
// A truncated file is an error rather than a page with missing rows
// silently filled in.
VImage LoadSequential(const std::string& path, bool page = true) {
  VSource source = VSource::new_from_file(path.c_str());
  // The loader is picked by the file's first bytes, which the job controls:
  // only the page formats' own loaders may read a page.
  const char* loader = vips_foreign_find_load_source(source.get_source());
  if (page && (loader == nullptr || (std::strcmp(loader, "VipsForeignLoadPpmSource") != 0 &&
                                     std::strcmp(loader, "VipsForeignLoadPngSource") != 0))) {
    throw VError("not a page file");
  }
  return VImage::new_from_source(source, "",
                                 VImage::option()
                                     ->set("access", VIPS_ACCESS_SEQUENTIAL)
                                     ->set("fail_on", VIPS_FAIL_ON_TRUNCATED));
}

// 8-bit, three bands, alpha dropped without being applied.
VImage ToRgb8(VImage image) {
  if (image.has_alpha()) {
    image =
        image.extract_band(0, VImage::option()->set("n", image.bands() - 1));
  }
  if (image.format() != VIPS_FORMAT_UCHAR) {
    // Integer samples wider than 8 bits keep their high byte.
    image = image.cast(VIPS_FORMAT_UCHAR, VImage::option()->set("shift", true));
  }
  if (image.bands() < 3) {
    VImage grey = image.extract_band(0);
    image = VImage::bandjoin(std::vector<VImage>{grey, grey, grey});
  } else if (image.bands() > 3) {
    image = image.extract_band(0, VImage::option()->set("n", 3));
  }
  return image;
}

// White in the sample range of `image`'s format.
double WhiteSample(const VImage& image) {
  switch (image.format()) {
    case VIPS_FORMAT_USHORT:
      return 65535.0;
    case VIPS_FORMAT_FLOAT:
    case VIPS_FORMAT_DOUBLE:
      return image.interpretation() == VIPS_INTERPRETATION_scRGB ? 1.0 : 255.0;
    default:
      return 255.0;
  }
}

struct BlobUnref {
  void operator()(VipsBlob* blob) const {
    vips_area_unref(reinterpret_cast<VipsArea*>(blob));
  }
};

// The JPEG encoder records the resolution only in Exif metadata, which goes
// with everything else the rendered page carried. Readers look for it in the
// JFIF header, so that header is put in front of the encoder's output, as
// it stands in most JPEG files: version 1.01, dots per inch, 100 by 100.
void SaveJpegWithJfif(const VImage& image, VTarget target, int32_t quality) {
  static constexpr unsigned char kJfifHeader[] = {
      0xFF, 0xE0, 0x00, 0x10, 'J',  'F',  'I',  'F',  0x00,
      0x01, 0x01, 0x01, 0x00, 0x64, 0x00, 0x64, 0x00, 0x00};
  std::unique_ptr<VipsBlob, BlobUnref> blob(image.jpegsave_buffer(
      VImage::option()->set("strip", true)->set("Q", quality)));
  size_t length = 0;
  const auto* jpeg =
      static_cast<const unsigned char*>(vips_blob_get(blob.get(), &length));
  if (length < 4) throw VError("jpegsave: empty output");
  const bool has_jfif = jpeg[2] == 0xFF && jpeg[3] == 0xE0;
  VipsTarget* out = target.get_target();
  if (vips_target_write(out, jpeg, 2) != 0 ||
      (!has_jfif &&
       vips_target_write(out, kJfifHeader, sizeof(kJfifHeader)) != 0) ||
      vips_target_write(out, jpeg + 2, length - 2) != 0 ||
      vips_target_end(out) != 0) {
    throw VError();
  }
}

// A page image is a new picture: the metadata of the rendered page (its
// colour profile above all, larger than a small image itself) stays behind.
void Save(const VImage& image, VTarget target, ImageFileFormat format,
          int32_t quality) {
  switch (format) {
    case ImageFileFormat::kJpeg:
      SaveJpegWithJfif(image, target, quality);
      return;
    case ImageFileFormat::kGif:
      // The GIF encoder has no quality setting.
      image.gifsave_target(target, VImage::option()->set("strip", true));
      return;
    case ImageFileFormat::kPng:
      image.pngsave_target(
          target, VImage::option()->set("strip", true)->set("Q", quality));
      return;
    case ImageFileFormat::kTiff:
      image.tiffsave_target(
          target, VImage::option()
                      ->set("strip", true)
                      ->set("Q", quality)
                      ->set("compression", VIPS_FOREIGN_TIFF_COMPRESSION_LZW)
                      ->set("resunit", VIPS_FOREIGN_TIFF_RESUNIT_INCH));
      return;
  }
  throw VError("unknown image format");
}

}  // namespace

bool InitializeImaging() {
  static const bool started = [] {
    if (vips_init("quillaro") != 0) return false;
    // Every loader is off for the whole process but those of the formats
    // pages are rendered in and those the encoders write: a job's bytes
    // never reach ImageMagick, PDF, SVG or the other loaders.
    vips_operation_block_set("VipsForeignLoad", TRUE);
    for (const char* loader : {"VipsForeignLoadPpm", "VipsForeignLoadPng", "VipsForeignLoadJpegSource",
                               "VipsForeignLoadJpegFile", "VipsForeignLoadNsgif",
                               "VipsForeignLoadTiff"}) {
      vips_operation_block_set(loader, FALSE);
    }
    vips_cache_set_max(0);
    vips_cache_set_max_files(0);
    g_log_set_handler(
        "VIPS",
        static_cast<GLogLevelFlags>(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_MESSAGE),
        DropLibraryWarning, nullptr);
    return true;
  }();
  return started;
}

void ShutdownImaging() { vips_shutdown(); }

std::span<const ImageEncoderInfo> InstalledImageEncoders() { return kEncoders; }

RgbPixels::RgbPixels(RgbPixels&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)) {}

RgbPixels& RgbPixels::operator=(RgbPixels&& other) noexcept {
  if (this != &other) {
    g_free(data_);
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

RgbPixels::~RgbPixels() { g_free(data_); }

struct ImageFile::Impl {
  std::string path;
  bool page = true;  // read with the page formats' loaders only
  int32_t width = 0;
  int32_t height = 0;
};

ImageFile::ImageFile(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
ImageFile::ImageFile(ImageFile&& other) noexcept = default;
ImageFile& ImageFile::operator=(ImageFile&& other) noexcept = default;
ImageFile::~ImageFile() = default;

int32_t ImageFile::width() const { return impl_->width; }
int32_t ImageFile::height() const { return impl_->height; }

namespace {

// True when the file at `path` is a binary PNM whose pixels end before its
// header says they do. libvips reads such a file at times as if the rest
// were there, so it is refused before libvips sees it.
bool IsPnmCutShort(const std::string& path) {
  UniqueFile file(OpenRegularFileForReading(path));
  if (!file) return false;
  char head[512];
  const size_t got = std::fread(head, 1, sizeof head, file.get());
  const std::optional<PnmHeader> pnm = ReadPnmHeader(std::string_view(head, got));
  if (!pnm) return false;
  constexpr uint64_t kMaxSide = uint64_t{1} << 31;
  if (pnm->width > kMaxSide || pnm->height > kMaxSide) return true;
  const uint64_t sample_bytes = pnm->max_value > 255 ? 2 : 1;
  uint64_t row_bytes = (pnm->width + 7) / 8;
  if (pnm->format == PnmFormat::kGreyMap) row_bytes = pnm->width * sample_bytes;
  if (pnm->format == PnmFormat::kPixMap) row_bytes = pnm->width * 3 * sample_bytes;
  if (std::fseek(file.get(), 0, SEEK_END) != 0) return true;
  const long size = std::ftell(file.get());
  return size < 0 || static_cast<uint64_t>(size) < pnm->pixel_offset + row_bytes * pnm->height;
}

}  // namespace

std::optional<ImageFile> ImageFile::Open(const std::string& path, Kind kind) {
  if (IsPnmCutShort(path)) return std::nullopt;
  auto impl = std::make_unique<Impl>();
  try {
    // Reads the header only; the loader and its file are released on return,
    // and each read below opens the file anew with a loader of its own.
    VImage header = LoadSequential(path, kind == Kind::kPage);
    impl->width = header.width();
    impl->height = header.height();
  } catch (const VError&) {
    return std::nullopt;
  }
  if (impl->width <= 0 || impl->height <= 0) return std::nullopt;
  if (static_cast<uint64_t>(impl->width) * static_cast<uint64_t>(impl->height) * 3 >
      kMaxImageFileBytes) {
    return std::nullopt;
  }
  impl->path = path;
  impl->page = kind == Kind::kPage;
  return ImageFile(std::move(impl));
}

std::optional<RgbPixels> ImageFile::ReadRgb(size_t max_bytes) const {
  const size_t width = static_cast<size_t>(impl_->width);
  const size_t height = static_cast<size_t>(impl_->height);
  if (width > max_bytes / 3 / height) return std::nullopt;
  const size_t expected = width * height * 3;
  try {
    VImage rgb = ToRgb8(LoadSequential(impl_->path, impl_->page));
    if (rgb.width() != impl_->width || rgb.height() != impl_->height)
      return std::nullopt;
    size_t size = 0;
    RgbPixels pixels;
    pixels.data_ = static_cast<uint8_t*>(rgb.write_to_memory(&size));
    pixels.size_ = size;
    if (size != expected) return std::nullopt;
    return pixels;
  } catch (const VError&) {
    return std::nullopt;
  }
}

int32_t ImageFile::ReadRgbRows(
    const std::function<void(int32_t y, const uint8_t* rgb)>& row) const {
  int32_t rows = 0;
  try {
    VImage rgb = ToRgb8(LoadSequential(impl_->path, impl_->page));
    if (rgb.width() != impl_->width || rgb.height() != impl_->height) return 0;
    VRegion region = rgb.region();
    for (int32_t y = 0; y < impl_->height; ++y) {
      region.prepare(0, y, impl_->width, 1);
      row(y, region.addr(0, y));
      ++rows;
    }
  } catch (const VError&) {
    // A row that cannot be decoded ends the read; later rows of a sequential
    // file cannot be reached past it.
  }
  return rows;
}

namespace {

// Scales, flattens, records 100 dpi and writes `image` (see SaveScaled).
bool WriteScaled(VImage image, const std::string& path, int32_t target_width,
                 int32_t target_height, ImageFileFormat format, int32_t quality,
                 OsError* error) {
  if (target_width <= 0 || target_height <= 0) return false;
  quality = std::clamp(quality, 1, 100);
  bool target_created = false;
  try {
    if (image.has_alpha()) {
      const double white = WhiteSample(image);
      image = image.flatten(VImage::option()->set(
          "background",
          std::vector<double>(static_cast<size_t>(image.bands() - 1), white)));
    }
    image = ToRgb8(image);
    const double horizontal = static_cast<double>(target_width) / image.width();
    const double vertical = static_cast<double>(target_height) / image.height();
    image = image.resize(horizontal, VImage::option()
                                         ->set("vscale", vertical)
                                         ->set("kernel", VIPS_KERNEL_LANCZOS3));
    if (image.width() != target_width || image.height() != target_height) {
      // The scale factors are rounded inside the library; pin the size exactly.
      image = image.embed(0, 0, target_width, target_height,
                          VImage::option()->set("extend", VIPS_EXTEND_COPY));
    }
    image = image.copy(VImage::option()
                           ->set("xres", kPixelsPerMillimetreAt100Dpi)
                           ->set("yres", kPixelsPerMillimetreAt100Dpi));
    // out/ is open to anyone who drops jobs: the image is a new file, never
    // written through a link planted under its name.
    ::unlink(path.c_str());
    const UniqueFd file = OpenNewFile(path, 0644, false, error);
    if (!file.Valid()) return false;
    target_created = true;
    // The target works on its own duplicate of the descriptor.
    VTarget target = VTarget::new_to_descriptor(file.Get());
    Save(image, target, format, quality);
    return true;
  } catch (const VError&) {
    // A file cut short by a failed save is no image; one that was never
    // opened for this page is left as it is.
    if (target_created) unlink(path.c_str());
    return false;
  }
}

}  // namespace

bool ImageFile::SaveScaled(const std::string& path, int32_t target_width,
                           int32_t target_height, ImageFileFormat format,
                           int32_t quality, OsError* error) const {
  VImage image;
  try {
    image = LoadSequential(impl_->path, impl_->page);
  } catch (const VError&) {
    return false;
  }
  return WriteScaled(image, path, target_width, target_height, format, quality, error);
}

bool SaveScaledRgb(const uint8_t* rgb, int32_t width, int32_t height,
                   const std::string& path, int32_t target_width,
                   int32_t target_height, ImageFileFormat format,
                   int32_t quality, OsError* error) {
  if (width <= 0 || height <= 0) return false;
  VImage image;
  try {
    // Wraps the caller's pixels without copying them; sRGB, as a decoded
    // page file is, so that the encoders treat both alike.
    image = VImage::new_from_memory(
                const_cast<uint8_t*>(rgb),
                static_cast<size_t>(width) * static_cast<size_t>(height) * 3,
                width, height, 3, VIPS_FORMAT_UCHAR)
                .copy(VImage::option()->set("interpretation",
                                            VIPS_INTERPRETATION_sRGB));
  } catch (const VError&) {
    return false;
  }
  return WriteScaled(image, path, target_width, target_height, format, quality, error);
}

}  // namespace quillaro

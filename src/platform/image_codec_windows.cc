// The image backend on Windows: GDI+. Every GDI+ call stays in this file.
// GDI+ reports failures as status values, never by throwing; pixel memory it
// hands out is read only within the bounds it reported (mingw has no way to
// turn an access fault into a C++ exception).

#include "platform/image_codec.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// GDI+ needs the COM stream interfaces and min/max of its own.
#include <objidl.h>

#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/code_page.h"
#include "platform/file_system.h"
#include "platform/pnm_header.h"

namespace quillaro {
namespace {

constexpr ImageEncoderInfo kEncoders[] = {
    {u"image/jpeg", ImageFileFormat::kJpeg},
    {u"image/gif", ImageFileFormat::kGif},
    {u"image/png", ImageFileFormat::kPng},
    {u"image/tiff", ImageFileFormat::kTiff},
};

constexpr Gdiplus::REAL kDotsPerInch = 100.0f;

std::wstring WidePath(const std::string& path) {
  const std::u16string wide = NarrowToWide(path);
  return {wide.begin(), wide.end()};
}

// The class id of the installed encoder for `mime_type`; nullopt when GDI+
// has none.
std::optional<CLSID> EncoderClassId(const wchar_t* mime_type) {
  UINT count = 0;
  UINT bytes = 0;
  if (Gdiplus::GetImageEncodersSize(&count, &bytes) != Gdiplus::Ok || bytes == 0) {
    return std::nullopt;
  }
  std::vector<unsigned char> storage(bytes);
  auto* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(storage.data());
  if (Gdiplus::GetImageEncoders(count, bytes, codecs) != Gdiplus::Ok) return std::nullopt;
  for (UINT i = 0; i < count; ++i) {
    if (codecs[i].MimeType != nullptr && std::wcscmp(codecs[i].MimeType, mime_type) == 0) {
      return codecs[i].Clsid;
    }
  }
  return std::nullopt;
}

const wchar_t* MimeType(ImageFileFormat format) {
  switch (format) {
    case ImageFileFormat::kJpeg:
      return L"image/jpeg";
    case ImageFileFormat::kGif:
      return L"image/gif";
    case ImageFileFormat::kPng:
      return L"image/png";
    case ImageFileFormat::kTiff:
      return L"image/tiff";
  }
  return L"";
}

// Loads `path` fully; nullptr when it is no image GDI+ can decode. The file
// stays open (and locked) only as long as the bitmap lives.
std::unique_ptr<Gdiplus::Bitmap> LoadBitmap(const std::string& path) {
  std::unique_ptr<Gdiplus::Bitmap> bitmap(Gdiplus::Bitmap::FromFile(WidePath(path).c_str(), FALSE));
  if (bitmap == nullptr || bitmap->GetLastStatus() != Gdiplus::Ok) return nullptr;
  if (bitmap->GetWidth() == 0 || bitmap->GetHeight() == 0) return nullptr;
  return bitmap;
}

// Locked pixels of a bitmap rectangle in 32-bit ARGB (stored colour values,
// alpha not applied), unlocked on destruction. Every read goes through
// Row(), which checks it against the bounds GDI+ reported.
class LockedArgb {
 public:
  LockedArgb(Gdiplus::Bitmap& bitmap, const Gdiplus::Rect& rect, UINT mode)
      : bitmap_(bitmap), rect_(rect) {
    locked_ = bitmap_.LockBits(&rect_, mode, PixelFormat32bppARGB, &data_) == Gdiplus::Ok &&
              data_.Scan0 != nullptr && data_.Width == static_cast<UINT>(rect.Width) &&
              data_.Height == static_cast<UINT>(rect.Height) &&
              static_cast<size_t>(data_.Stride < 0 ? -data_.Stride : data_.Stride) >=
                  static_cast<size_t>(rect.Width) * 4;
  }
  LockedArgb(const LockedArgb&) = delete;
  LockedArgb& operator=(const LockedArgb&) = delete;
  ~LockedArgb() {
    if (data_.Scan0 != nullptr) bitmap_.UnlockBits(&data_);
  }

  bool locked() const { return locked_; }
  // Row `y` of the rectangle (B, G, R, A per pixel), or nullptr past its end.
  uint8_t* Row(int32_t y) const {
    if (!locked_ || y < 0 || static_cast<UINT>(y) >= data_.Height) return nullptr;
    return static_cast<uint8_t*>(data_.Scan0) + static_cast<ptrdiff_t>(y) * data_.Stride;
  }

 private:
  Gdiplus::Bitmap& bitmap_;
  Gdiplus::Rect rect_;
  Gdiplus::BitmapData data_ = {};
  bool locked_ = false;
};

void ArgbRowToRgb(const uint8_t* argb, int32_t width, uint8_t* rgb) {
  for (int32_t x = 0; x < width; ++x) {
    rgb[3 * x] = argb[4 * x + 2];
    rgb[3 * x + 1] = argb[4 * x + 1];
    rgb[3 * x + 2] = argb[4 * x];
  }
}

// The bytes `image` encodes to with the encoder `clsid`, or nullopt.
std::optional<std::vector<uint8_t>> Encode(Gdiplus::Image& image, const CLSID& clsid,
                                           const Gdiplus::EncoderParameters* parameters) {
  IStream* raw_stream = nullptr;
  if (::CreateStreamOnHGlobal(nullptr, TRUE, &raw_stream) != S_OK) return std::nullopt;
  std::unique_ptr<IStream, void (*)(IStream*)> stream(raw_stream, [](IStream* s) { s->Release(); });
  if (image.Save(stream.get(), &clsid, parameters) != Gdiplus::Ok) return std::nullopt;
  HGLOBAL memory = nullptr;
  if (::GetHGlobalFromStream(stream.get(), &memory) != S_OK) return std::nullopt;
  STATSTG stat = {};
  if (stream->Stat(&stat, STATFLAG_NONAME) != S_OK) return std::nullopt;
  const size_t size = static_cast<size_t>(stat.cbSize.QuadPart);
  const void* bytes = ::GlobalLock(memory);
  if (bytes == nullptr) return std::nullopt;
  std::vector<uint8_t> encoded(static_cast<const uint8_t*>(bytes),
                               static_cast<const uint8_t*>(bytes) + size);
  ::GlobalUnlock(memory);
  return encoded;
}

// Readers look for a JPEG's resolution in its JFIF header: make sure there
// is one, version 1.01, 100 by 100 dots per inch, right after the start.
void EnsureJfifHeader(std::vector<uint8_t>& jpeg) {
  static constexpr uint8_t kJfifHeader[] = {0xFF, 0xE0, 0x00, 0x10, 'J',  'F',  'I',  'F',  0x00,
                                            0x01, 0x01, 0x01, 0x00, 0x64, 0x00, 0x64, 0x00, 0x00};
  if (jpeg.size() < 4) return;
  if (jpeg[2] == 0xFF && jpeg[3] == 0xE0) {
    // Pin the density of the encoder's own header to dots per inch, 100.
    if (jpeg.size() >= 18 && std::memcmp(&jpeg[6], "JFIF", 5) == 0) {
      std::memcpy(&jpeg[13], &kJfifHeader[11], 5);
    }
    return;
  }
  jpeg.insert(jpeg.begin() + 2, std::begin(kJfifHeader), std::end(kJfifHeader));
}

// Some TIFF encoders (Wine's among them) write uncompressed pixels right
// after the 8-byte header and leave the byte that aligns the directory
// behind odd-length pixel data unset. It is zeroed, so that equal pixels
// always give equal files.
void ClearTiffAlignmentByte(std::vector<uint8_t>& tiff, size_t pixel_bytes) {
  if (tiff.size() < 8 || tiff[0] != 'I' || tiff[1] != 'I') return;
  const size_t directory = static_cast<size_t>(tiff[4]) | static_cast<size_t>(tiff[5]) << 8 |
                           static_cast<size_t>(tiff[6]) << 16 | static_cast<size_t>(tiff[7]) << 24;
  if (pixel_bytes % 2 == 1 && directory == 8 + pixel_bytes + 1 && directory < tiff.size()) {
    tiff[directory - 1] = 0;
  }
}

// An 8-bit indexed copy of 32-bit `pixels` (opaque) for the GIF encoder,
// which writes no image from a true-colour bitmap on every system. With at
// most 256 colours the palette is exact; otherwise a 6x7x6 colour cube with
// error diffusion keeps flat areas flat and gradients smooth.
std::unique_ptr<Gdiplus::Bitmap> ToIndexed(Gdiplus::Bitmap& pixels) {
  const int32_t width = static_cast<int32_t>(pixels.GetWidth());
  const int32_t height = static_cast<int32_t>(pixels.GetHeight());
  const LockedArgb source(pixels, Gdiplus::Rect(0, 0, width, height), Gdiplus::ImageLockModeRead);
  if (!source.locked()) return nullptr;

  std::vector<uint32_t> colours;
  std::unordered_map<uint32_t, uint8_t> index_of;
  bool exact = true;
  for (int32_t y = 0; y < height && exact; ++y) {
    const uint8_t* row = source.Row(y);
    for (int32_t x = 0; x < width; ++x) {
      uint32_t colour;
      std::memcpy(&colour, row + 4 * x, 4);
      colour |= 0xFF000000u;
      if (index_of.count(colour) != 0) continue;
      if (colours.size() == 256) {
        exact = false;
        break;
      }
      index_of.emplace(colour, static_cast<uint8_t>(colours.size()));
      colours.push_back(colour);
    }
  }
  if (!exact) {
    colours.clear();
    for (int r = 0; r < 6; ++r) {
      for (int g = 0; g < 7; ++g) {
        for (int b = 0; b < 6; ++b) {
          colours.push_back(0xFF000000u | (static_cast<uint32_t>(r * 255 / 5) << 16) |
                            (static_cast<uint32_t>(g * 255 / 6) << 8) |
                            static_cast<uint32_t>(b * 255 / 5));
        }
      }
    }
  }

  auto indexed = std::make_unique<Gdiplus::Bitmap>(width, height, PixelFormat8bppIndexed);
  if (indexed->GetLastStatus() != Gdiplus::Ok) return nullptr;
  std::vector<unsigned char> palette_storage(sizeof(Gdiplus::ColorPalette) +
                                             sizeof(Gdiplus::ARGB) * colours.size());
  auto* palette = reinterpret_cast<Gdiplus::ColorPalette*>(palette_storage.data());
  palette->Flags = 0;
  palette->Count = static_cast<UINT>(colours.size());
  for (size_t i = 0; i < colours.size(); ++i) palette->Entries[i] = colours[i];
  if (indexed->SetPalette(palette) != Gdiplus::Ok) return nullptr;

  Gdiplus::BitmapData target = {};
  Gdiplus::Rect rect(0, 0, width, height);
  if (indexed->LockBits(&rect, Gdiplus::ImageLockModeWrite, PixelFormat8bppIndexed, &target) !=
          Gdiplus::Ok ||
      target.Scan0 == nullptr || target.Stride < width) {
    return nullptr;
  }
  // Error diffusion (Floyd-Steinberg) per channel, two rows of carried error.
  std::vector<int> error_now(static_cast<size_t>(width + 2) * 3, 0);
  std::vector<int> error_next(error_now.size(), 0);
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* row = source.Row(y);
    auto* out = static_cast<uint8_t*>(target.Scan0) + static_cast<ptrdiff_t>(y) * target.Stride;
    std::fill(error_next.begin(), error_next.end(), 0);
    for (int32_t x = 0; x < width; ++x) {
      uint32_t colour;
      std::memcpy(&colour, row + 4 * x, 4);
      colour |= 0xFF000000u;
      if (exact) {
        out[x] = index_of[colour];
        continue;
      }
      int channel[3];
      for (int c = 0; c < 3; ++c) {
        const int stored = static_cast<int>((colour >> (16 - 8 * c)) & 0xFF);
        channel[c] =
            std::clamp(stored + error_now[static_cast<size_t>(x + 1) * 3 + c] / 16, 0, 255);
      }
      const int r = (channel[0] * 5 + 127) / 255;
      const int g = (channel[1] * 6 + 127) / 255;
      const int b = (channel[2] * 5 + 127) / 255;
      out[x] = static_cast<uint8_t>((r * 7 + g) * 6 + b);
      const int chosen[3] = {r * 255 / 5, g * 255 / 6, b * 255 / 5};
      for (int c = 0; c < 3; ++c) {
        const int e = channel[c] - chosen[c];
        error_now[static_cast<size_t>(x + 2) * 3 + c] += e * 7;
        error_next[static_cast<size_t>(x) * 3 + c] += e * 3;
        error_next[static_cast<size_t>(x + 1) * 3 + c] += e * 5;
        error_next[static_cast<size_t>(x + 2) * 3 + c] += e;
      }
    }
    std::swap(error_now, error_next);
  }
  indexed->UnlockBits(&target);
  return indexed;
}

// Writes `bytes` to a new file `path`: an existing entry of that name is
// removed first, and the file is created only if none exists, so that a
// link planted under the name is never written through. No partial file is
// left on failure.
bool WriteImageFile(const std::string& path, const std::vector<uint8_t>& bytes, OsError* error) {
  const std::wstring wide = WidePath(path);
  ::DeleteFileW(wide.c_str());
  UniqueNativeHandle file = OpenNewFile(path, 0644, false, error);
  if (!file.Valid()) return false;
  size_t written = 0;
  bool ok = true;
  while (ok && written < bytes.size()) {
    DWORD count = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - written, 1u << 30));
    ok = ::WriteFile(file.Get(), bytes.data() + written, chunk, &count, nullptr) && count > 0;
    written += count;
  }
  // A file whose close fails may not hold what was written.
  ok = file.Close() && ok;
  if (!ok) ::DeleteFileW(wide.c_str());
  return ok;
}

// GDI+ reads no PNM, which the interpreters write pages in: binary grey
// (P5) and colour (P6) maps are read here, 8 or 16 bits per sample (16-bit
// samples keep their high byte, as the Linux backend does).
struct PnmLayout {
  int32_t width = 0;
  int32_t height = 0;
  int channels = 0;          // 1 (grey) or 3 (RGB)
  int bytes_per_sample = 0;  // 1 or 2
  size_t pixel_offset = 0;   // where the samples start in the file
};

std::optional<PnmLayout> ReadPnmLayout(const std::string& path) {
  std::ifstream file(std::filesystem::path(WidePath(path)), std::ios::binary);
  char head[512] = {};
  file.read(head, sizeof head);
  const std::optional<PnmHeader> header =
      ReadPnmHeader(std::string_view(head, static_cast<size_t>(file.gcount())));
  if (!header || header->format == PnmFormat::kBitmap) return std::nullopt;
  // Sides past a million pixels are no page the interpreters render.
  constexpr uint64_t kMaxSide = 1000000;
  if (header->width > kMaxSide || header->height > kMaxSide) return std::nullopt;
  PnmLayout layout;
  layout.channels = header->format == PnmFormat::kPixMap ? 3 : 1;
  layout.width = static_cast<int32_t>(header->width);
  layout.height = static_cast<int32_t>(header->height);
  layout.bytes_per_sample = header->max_value > 255 ? 2 : 1;
  layout.pixel_offset = header->pixel_offset;
  return layout;
}

// Decodes the whole rows the file holds, at most `layout.height`, into RGB.
std::vector<uint8_t> DecodePnmRows(const std::string& path, const PnmLayout& layout) {
  std::ifstream file(std::filesystem::path(WidePath(path)), std::ios::binary);
  file.seekg(static_cast<std::streamoff>(layout.pixel_offset));
  const size_t width = static_cast<size_t>(layout.width);
  const size_t row_bytes = width * static_cast<size_t>(layout.channels * layout.bytes_per_sample);
  std::vector<char> row(row_bytes);
  std::vector<uint8_t> rgb;
  for (int32_t y = 0; y < layout.height; ++y) {
    if (!file.read(row.data(), static_cast<std::streamsize>(row_bytes))) break;
    for (size_t x = 0; x < width; ++x) {
      for (int c = 0; c < 3; ++c) {
        const size_t sample = x * static_cast<size_t>(layout.channels) +
                              static_cast<size_t>(layout.channels == 3 ? c : 0);
        rgb.push_back(
            static_cast<uint8_t>(row[sample * static_cast<size_t>(layout.bytes_per_sample)]));
      }
    }
  }
  return rgb;
}

// Scales `source` to the target size with a high-quality filter, onto
// opaque white, at 100 dpi, and writes it (see SaveScaled).
bool WriteScaled(Gdiplus::Bitmap& source, const std::string& path, int32_t target_width,
                 int32_t target_height, ImageFileFormat format, int32_t quality, OsError* error) {
  if (target_width <= 0 || target_height <= 0) return false;
  quality = std::clamp(quality, 1, 100);
  Gdiplus::Bitmap scaled(target_width, target_height, PixelFormat32bppARGB);
  if (scaled.GetLastStatus() != Gdiplus::Ok) return false;
  {
    Gdiplus::Graphics graphics(&scaled);
    if (graphics.GetLastStatus() != Gdiplus::Ok) return false;
    graphics.Clear(Gdiplus::Color(255, 255, 255, 255));
    graphics.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
    graphics.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHighQuality);
    graphics.SetCompositingQuality(Gdiplus::CompositingQualityHighQuality);
    // Mirrored edges, so that the filter does not pull in a dark border.
    Gdiplus::ImageAttributes edges;
    edges.SetWrapMode(Gdiplus::WrapModeTileFlipXY);
    if (graphics.DrawImage(&source, Gdiplus::Rect(0, 0, target_width, target_height), 0, 0,
                           static_cast<INT>(source.GetWidth()),
                           static_cast<INT>(source.GetHeight()), Gdiplus::UnitPixel,
                           &edges) != Gdiplus::Ok) {
      return false;
    }
  }
  // Drawn onto white, every pixel is opaque: 24-bit RGB is what is written.
  Gdiplus::Bitmap rgb(target_width, target_height, PixelFormat24bppRGB);
  if (rgb.GetLastStatus() != Gdiplus::Ok) return false;
  {
    Gdiplus::Graphics graphics(&rgb);
    graphics.SetCompositingMode(Gdiplus::CompositingModeSourceCopy);
    graphics.SetInterpolationMode(Gdiplus::InterpolationModeNearestNeighbor);
    if (graphics.DrawImage(&scaled, 0, 0, target_width, target_height) != Gdiplus::Ok) return false;
  }
  const std::optional<CLSID> clsid = EncoderClassId(MimeType(format));
  if (!clsid) return false;

  std::optional<std::vector<uint8_t>> encoded;
  if (format == ImageFileFormat::kGif) {
    std::unique_ptr<Gdiplus::Bitmap> indexed = ToIndexed(scaled);
    if (indexed == nullptr) return false;
    indexed->SetResolution(kDotsPerInch, kDotsPerInch);
    encoded = Encode(*indexed, *clsid, nullptr);
  } else {
    rgb.SetResolution(kDotsPerInch, kDotsPerInch);
    Gdiplus::EncoderParameters parameters = {};
    ULONG quality_value = static_cast<ULONG>(quality);
    ULONG compression = Gdiplus::EncoderValueCompressionLZW;
    parameters.Count = 0;
    if (format == ImageFileFormat::kJpeg) {
      parameters.Count = 1;
      parameters.Parameter[0] = {Gdiplus::EncoderQuality, 1, Gdiplus::EncoderParameterValueTypeLong,
                                 &quality_value};
    } else if (format == ImageFileFormat::kTiff) {
      parameters.Count = 1;
      parameters.Parameter[0] = {Gdiplus::EncoderCompression, 1,
                                 Gdiplus::EncoderParameterValueTypeLong, &compression};
    }
    encoded = Encode(rgb, *clsid, parameters.Count != 0 ? &parameters : nullptr);
    if (encoded && format == ImageFileFormat::kJpeg) EnsureJfifHeader(*encoded);
    if (encoded && format == ImageFileFormat::kTiff) {
      ClearTiffAlignmentByte(
          *encoded, static_cast<size_t>(target_width) * static_cast<size_t>(target_height) * 3);
    }
  }
  // An encoder that reports success but writes next to nothing made no image.
  if (!encoded || encoded->size() < 32) return false;
  return WriteImageFile(path, *encoded, error);
}

}  // namespace

bool InitializeImaging() {
  static const bool started = [] {
    static ULONG_PTR token = 0;
    Gdiplus::GdiplusStartupInput input;
    return Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok;
  }();
  return started;
}

void ShutdownImaging() {
  // GDI+ is released with the process: shutting it down while another
  // thread may still hold a GDI+ object would crash, and the service
  // calls this right before it ends anyway.
}

std::span<const ImageEncoderInfo> InstalledImageEncoders() { return kEncoders; }

RgbPixels::RgbPixels(RgbPixels&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

RgbPixels& RgbPixels::operator=(RgbPixels&& other) noexcept {
  if (this != &other) {
    std::free(data_);
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

RgbPixels::~RgbPixels() { std::free(data_); }

struct ImageFile::Impl {
  std::string path;
  int32_t width = 0;
  int32_t height = 0;
  std::optional<PnmLayout> pnm;  // set for maps read here rather than by GDI+
};

ImageFile::ImageFile(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
ImageFile::ImageFile(ImageFile&& other) noexcept = default;
ImageFile& ImageFile::operator=(ImageFile&& other) noexcept = default;
ImageFile::~ImageFile() = default;

int32_t ImageFile::width() const { return impl_->width; }
int32_t ImageFile::height() const { return impl_->height; }

// GDI+ has no decoder for the formats libvips must be kept from (SVG, PDF):
// every kind is read alike.
std::optional<ImageFile> ImageFile::Open(const std::string& path, Kind /*kind*/) {
  auto too_large = [](int64_t width, int64_t height) {
    return static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * 3 > kMaxImageFileBytes;
  };
  if (std::optional<PnmLayout> pnm = ReadPnmLayout(path)) {
    if (too_large(pnm->width, pnm->height)) return std::nullopt;
    auto impl = std::make_unique<Impl>();
    impl->width = pnm->width;
    impl->height = pnm->height;
    impl->pnm = pnm;
    impl->path = path;
    return ImageFile(std::move(impl));
  }
  const std::unique_ptr<Gdiplus::Bitmap> bitmap = LoadBitmap(path);
  if (bitmap == nullptr) return std::nullopt;
  auto impl = std::make_unique<Impl>();
  impl->width = static_cast<int32_t>(bitmap->GetWidth());
  impl->height = static_cast<int32_t>(bitmap->GetHeight());
  if (impl->width <= 0 || impl->height <= 0) return std::nullopt;
  if (too_large(impl->width, impl->height)) return std::nullopt;
  impl->path = path;
  return ImageFile(std::move(impl));
}

std::optional<RgbPixels> ImageFile::ReadRgb(size_t max_bytes) const {
  const size_t width = static_cast<size_t>(impl_->width);
  const size_t height = static_cast<size_t>(impl_->height);
  if (width > max_bytes / 3 / height) return std::nullopt;
  if (impl_->pnm) {
    const std::vector<uint8_t> rgb = DecodePnmRows(impl_->path, *impl_->pnm);
    if (rgb.size() != width * height * 3) return std::nullopt;
    RgbPixels pixels;
    pixels.data_ = static_cast<uint8_t*>(std::malloc(rgb.size()));
    if (pixels.data_ == nullptr) return std::nullopt;
    std::memcpy(pixels.data_, rgb.data(), rgb.size());
    pixels.size_ = rgb.size();
    return pixels;
  }
  const std::unique_ptr<Gdiplus::Bitmap> bitmap = LoadBitmap(impl_->path);
  if (bitmap == nullptr || bitmap->GetWidth() != width || bitmap->GetHeight() != height) {
    return std::nullopt;
  }
  const LockedArgb locked(*bitmap, Gdiplus::Rect(0, 0, impl_->width, impl_->height),
                          Gdiplus::ImageLockModeRead);
  if (!locked.locked()) return std::nullopt;
  RgbPixels pixels;
  pixels.data_ = static_cast<uint8_t*>(std::malloc(width * height * 3));
  if (pixels.data_ == nullptr) return std::nullopt;
  pixels.size_ = width * height * 3;
  for (int32_t y = 0; y < impl_->height; ++y) {
    const uint8_t* row = locked.Row(y);
    if (row == nullptr) return std::nullopt;
    ArgbRowToRgb(row, impl_->width, pixels.data_ + static_cast<size_t>(y) * width * 3);
  }
  return pixels;
}

int32_t ImageFile::ReadRgbRows(
    const std::function<void(int32_t y, const uint8_t* rgb)>& row) const {
  if (impl_->pnm) {
    const std::vector<uint8_t> rgb = DecodePnmRows(impl_->path, *impl_->pnm);
    const size_t row_bytes = static_cast<size_t>(impl_->width) * 3;
    const int32_t rows = static_cast<int32_t>(rgb.size() / row_bytes);
    for (int32_t y = 0; y < rows; ++y) row(y, rgb.data() + static_cast<size_t>(y) * row_bytes);
    return rows;
  }
  // GDI+ decodes the whole image when it loads; only our own copy is kept
  // to one row at a time.
  const std::unique_ptr<Gdiplus::Bitmap> bitmap = LoadBitmap(impl_->path);
  if (bitmap == nullptr || bitmap->GetWidth() != static_cast<UINT>(impl_->width) ||
      bitmap->GetHeight() != static_cast<UINT>(impl_->height)) {
    return 0;
  }
  std::vector<uint8_t> rgb(static_cast<size_t>(impl_->width) * 3);
  int32_t rows = 0;
  for (int32_t y = 0; y < impl_->height; ++y) {
    const LockedArgb locked(*bitmap, Gdiplus::Rect(0, y, impl_->width, 1),
                            Gdiplus::ImageLockModeRead);
    const uint8_t* argb = locked.Row(0);
    if (argb == nullptr) break;
    ArgbRowToRgb(argb, impl_->width, rgb.data());
    row(y, rgb.data());
    ++rows;
  }
  return rows;
}

bool ImageFile::SaveScaled(const std::string& path, int32_t target_width, int32_t target_height,
                           ImageFileFormat format, int32_t quality, OsError* error) const {
  if (impl_->pnm) {
    const std::vector<uint8_t> rgb = DecodePnmRows(impl_->path, *impl_->pnm);
    if (rgb.size() != static_cast<size_t>(impl_->width) * static_cast<size_t>(impl_->height) * 3) {
      return false;
    }
    return SaveScaledRgb(rgb.data(), impl_->width, impl_->height, path, target_width, target_height,
                         format, quality, error);
  }
  const std::unique_ptr<Gdiplus::Bitmap> bitmap = LoadBitmap(impl_->path);
  if (bitmap == nullptr) return false;
  return WriteScaled(*bitmap, path, target_width, target_height, format, quality, error);
}

bool SaveScaledRgb(const uint8_t* rgb, int32_t width, int32_t height, const std::string& path,
                   int32_t target_width, int32_t target_height, ImageFileFormat format,
                   int32_t quality, OsError* error) {
  if (width <= 0 || height <= 0) return false;
  // GDI+ keeps 24-bit pixels as B, G, R in 4-byte aligned rows: copy the
  // caller's pixels into an opaque 32-bit bitmap instead.
  Gdiplus::Bitmap bitmap(width, height, PixelFormat32bppARGB);
  if (bitmap.GetLastStatus() != Gdiplus::Ok) return false;
  {
    const LockedArgb locked(bitmap, Gdiplus::Rect(0, 0, width, height),
                            Gdiplus::ImageLockModeWrite);
    if (!locked.locked()) return false;
    for (int32_t y = 0; y < height; ++y) {
      uint8_t* out = locked.Row(y);
      const uint8_t* in = rgb + static_cast<size_t>(y) * static_cast<size_t>(width) * 3;
      for (int32_t x = 0; x < width; ++x) {
        out[4 * x] = in[3 * x + 2];
        out[4 * x + 1] = in[3 * x + 1];
        out[4 * x + 2] = in[3 * x];
        out[4 * x + 3] = 0xFF;
      }
    }
  }
  return WriteScaled(bitmap, path, target_width, target_height, format, quality, error);
}

}  // namespace quillaro

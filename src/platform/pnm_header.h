#ifndef QUILLARO_PLATFORM_PNM_HEADER_H_
#define QUILLARO_PLATFORM_PNM_HEADER_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace quillaro {

// The binary PNM formats the interpreters render pages in.
enum class PnmFormat {
  kBitmap,   // "P4": 1 bit per pixel, no sample range in the header
  kGreyMap,  // "P5": one sample per pixel
  kPixMap,   // "P6": three samples (R, G, B) per pixel
};

// The header of a binary PNM file: what the pixels are and where they start.
struct PnmHeader {
  PnmFormat format = PnmFormat::kPixMap;
  uint64_t width = 0;       // pixels, at least 1
  uint64_t height = 0;      // pixels, at least 1
  uint64_t max_value = 1;   // the sample range, 1..65535; 1 for kBitmap
  size_t pixel_offset = 0;  // where the pixels start, counted from the magic
};

// Reads the header at the start of `bytes`, the first bytes of a file (512
// hold every header an interpreter writes). The magic ("P4", "P5", "P6"),
// then width, height and, but for P4, the sample range, each a decimal
// number of at most 10 digits after blanks and "#" comments (to the end of
// their line); one blank ends the header. Returns nullopt for anything else:
// a page file is written by an interpreter a job drives, so every field is
// checked and no input reads past `bytes`. Values past the sizes a caller
// accepts are the caller's to refuse. Portable; thread-safe.
std::optional<PnmHeader> ReadPnmHeader(std::string_view bytes);

}  // namespace quillaro

#endif  // QUILLARO_PLATFORM_PNM_HEADER_H_

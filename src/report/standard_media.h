#ifndef QUILLARO_REPORT_STANDARD_MEDIA_H_
#define QUILLARO_REPORT_STANDARD_MEDIA_H_

#include <cstdint>
#include <optional>
#include <string>

namespace quillaro {

// Resolution of the rendered page files, and so of every pixel size here.
inline constexpr double kRenderedDotsPerInch = 100.0;
// A sheet is named when both sides are within this of a standard size.
inline constexpr double kMediaNameToleranceMm = 2.0;

// The sheet a page asks for.
struct Media {
  double width_mm = 0;
  double height_mm = 0;
  std::optional<std::string> name;  // "A4", "Letter", "DL", ...; none when unknown
  bool landscape = false;           // wider than high
};

// The sheet of a page rendered at 100 dpi to `width_px` x `height_px`
// pixels: its sides in millimetres (one decimal), and the standard name it
// matches within kMediaNameToleranceMm in either orientation (A0 to A6, ISO
// B4 and B5, SRA3, SRA4, JIS B4 and B5, 12x18, Letter, Legal, Ledger, Executive, Statement, envelopes DL, C4,
// C5, C6, COM10, Monarch).
Media MediaOfRenderedPage(int32_t width_px, int32_t height_px);

// The classes click contracts charge by: "a4" for sheets up to Legal and
// SRA4 (short side at most 230 mm, long side at most 358 mm), "a3" for
// sheets up to SRA3 and 12x18 (322 mm, 460 mm), "other" for larger ones.
inline constexpr double kA4ClassMaxShortMm = 230;
inline constexpr double kA4ClassMaxLongMm = 358;
inline constexpr double kA3ClassMaxShortMm = 322;
inline constexpr double kA3ClassMaxLongMm = 460;
const char* SizeClassName(const Media& media);

}  // namespace quillaro

#endif  // QUILLARO_REPORT_STANDARD_MEDIA_H_

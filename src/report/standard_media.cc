#include "report/standard_media.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace quillaro {
namespace {

struct StandardSheet {
  const char* name;
  double short_mm;
  double long_mm;
};

// Sides from ISO 216, ISO 217 (SRA), ISO 269, JIS P 0138 and ANSI; no two
// are closer than twice the tolerance, so a sheet matches one
// name at most (SRA4 and C4 differ by exactly twice it: the first wins).
// Tabloid is Ledger's sheet and reported as Ledger.
constexpr StandardSheet kStandardSheets[] = {
    {"A0", 841, 1189},
    {"A1", 594, 841},
    {"A2", 420, 594},
    {"A3", 297, 420},
    {"A4", 210, 297},
    {"A5", 148, 210},
    {"A6", 105, 148},
    {"B4", 250, 353},
    {"B5", 176, 250},
    {"SRA3", 320, 450},
    {"SRA4", 225, 320},
    {"JIS B4", 257, 364},
    {"JIS B5", 182, 257},
    {"12x18", 304.8, 457.2},
    {"Letter", 215.9, 279.4},
    {"Legal", 215.9, 355.6},
    {"Ledger", 279.4, 431.8},
    {"Executive", 184.15, 266.7},
    {"Statement", 139.7, 215.9},
    {"DL", 110, 220},
    {"C4", 229, 324},
    {"C5", 162, 229},
    {"C6", 114, 162},
    {"COM10", 104.775, 241.3},
    {"Monarch", 98.425, 190.5},
};

double PixelsToMm(int32_t pixels) { return pixels * 25.4 / kRenderedDotsPerInch; }
double OneDecimal(double value) { return std::round(value * 10.0) / 10.0; }

}  // namespace

Media MediaOfRenderedPage(int32_t width_px, int32_t height_px) {
  Media media;
  const double width = PixelsToMm(width_px);
  const double height = PixelsToMm(height_px);
  media.width_mm = OneDecimal(width);
  media.height_mm = OneDecimal(height);
  media.landscape = width > height;
  const double short_side = media.landscape ? height : width;
  const double long_side = media.landscape ? width : height;
  for (const StandardSheet& sheet : kStandardSheets) {
    if (std::abs(short_side - sheet.short_mm) <= kMediaNameToleranceMm &&
        std::abs(long_side - sheet.long_mm) <= kMediaNameToleranceMm) {
      media.name = sheet.name;
      break;
    }
  }
  return media;
}

const char* SizeClassName(const Media& media) {
  if (media.width_mm <= 0 || media.height_mm <= 0) return "other";
  const double short_side = std::min(media.width_mm, media.height_mm);
  const double long_side = std::max(media.width_mm, media.height_mm);
  if (short_side <= kA4ClassMaxShortMm && long_side <= kA4ClassMaxLongMm) return "a4";
  if (short_side <= kA3ClassMaxShortMm && long_side <= kA3ClassMaxLongMm) return "a3";
  return "other";
}

}  // namespace quillaro

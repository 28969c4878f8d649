#include "report/standard_media.h"

#include <cmath>
#include <cstdlib>

namespace quillaro {
namespace {

struct StandardSheet {
  const char* name;
  double short_mm;
  double long_mm;
};

// Sides from ISO 216, ISO 269 and ANSI; no two are within twice the
// tolerance of each other, so a sheet matches one name at most.
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

}  // namespace quillaro

#include <charconv>
#include <cstdint>
#include <string>

#include "config/settings.h"
#include "config/path_utils.h"
#include "config/text_utils.h"
#include "platform/module_path.h"
#include "platform/profile_reader.h"

namespace quillaro {
namespace {

constexpr char16_t kSection[] = u"Settings";
// Far above the ten job workers: a mistyped value must not make the lock
// try millions of slots.
constexpr int32_t kMaxParallel = 64;
constexpr int32_t kDefaultMaxJobMegabytes = 1024;

// Leading decimal number of a text, as the C runtime reads it (blanks, sign,
// digits, fraction, exponent; 0 when the text does not start with a number).
// from_chars keeps the answer independent of any locale a library may set.
double LeadingNumber(const std::u16string& text) {
  std::string narrow = ToNarrow(text);
  const char* p = narrow.data();
  const char* end = p + narrow.size();
  while (p < end && (*p == ' ' || (*p >= '\t' && *p <= '\r'))) ++p;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
  double value = 0;
  if (std::from_chars(p, end, value).ec != std::errc()) return 0;
  return negative ? -value : value;
}

}  // namespace

Settings LoadSettings() {
  Settings settings;
  const std::string path = ToNarrow(GetDataFolder()) + kPathSeparator + "settings.ini";
  auto read_int = [&](const char16_t* key, int32_t fallback) {
    return GetProfileInteger(kSection, key, fallback, path);
  };

  settings.IsConvert = read_int(u"IsConvert", 0) == 1;
  settings.Type = read_int(u"Type", 0);
  settings.ImageType = read_int(u"ImageType", 0);
  settings.PagesMaxCount = read_int(u"PagesMaxCount", 10);
  settings.Quality = read_int(u"Quality", 80);
  settings.LongPixelLength = read_int(u"LongPixelLength", 80);
  settings.DeleteSeconds = read_int(u"DeleteSeconds", 900);
  settings.Parallel = read_int(u"Parallel", 1);
  if (settings.Parallel < 0 || settings.Parallel > kMaxParallel) settings.Parallel = 1;
  settings.IsLog = read_int(u"IsLog", 0) == 1;
  settings.IsReport = read_int(u"IsReport", 0) == 1;
  settings.IsQuarantine = read_int(u"IsQuarantine", 0) == 1;
  // The colour verdict's numbers; one out of its bounds takes its default.
  auto read_bounded = [&](const char16_t* key, int32_t fallback, int32_t low, int32_t high) {
    const int32_t value = read_int(key, fallback);
    return value < low || value > high ? fallback : value;
  };
  const ColourRule defaults;
  settings.ReportColourRule.chroma_threshold =
      read_bounded(u"ReportChromaThreshold", defaults.chroma_threshold, 0, kMaxChromaThreshold);
  settings.ReportColourRule.inked_below =
      read_bounded(u"ReportInkedBelow", defaults.inked_below, 1, kMaxInkedBelow);
  settings.ReportColourRule.min_coloured_pixels = static_cast<uint64_t>(
      read_bounded(u"ReportMinColouredPixels", static_cast<int32_t>(defaults.min_coloured_pixels),
                   1, INT32_MAX));
  settings.ReportColourRule.neighbourhood_radius_px = read_bounded(
      u"ReportNeighbourhoodRadius", defaults.neighbourhood_radius_px, 0, kMaxNeighbourhoodRadiusPx);
  settings.MaxJobMegabytes = read_int(u"MaxJobMegabytes", kDefaultMaxJobMegabytes);
  if (settings.MaxJobMegabytes < 1) settings.MaxJobMegabytes = kDefaultMaxJobMegabytes;
  settings.WMUnconfined = read_int(u"WMUnconfined", 0) == 1;
  settings.WaitSeconds = read_int(u"WaitSeconds", 30);
  if (settings.WaitSeconds < 10) settings.WaitSeconds = 10;
  if (settings.WaitSeconds > 60) settings.WaitSeconds = 60;
  settings.WMEnable = read_int(u"WMEnable", 0) == 1;

  // The text itself, not the number, goes into the watermark prolog, so a
  // valid ".5" stays ".5".
  settings.WMGrayLevel = GetProfileText(kSection, u"WMGrayLevel", u"0.8", path);
  double gray = LeadingNumber(settings.WMGrayLevel);
  if (!(gray > 0.00000001 && gray < 1.00000001)) settings.WMGrayLevel = u"0.8";

  settings.WMFontSize = read_int(u"WMFontSize", 12);
  if (settings.WMFontSize < 3 || settings.WMFontSize > 100) settings.WMFontSize = 12;

  settings.WMFontType = GetProfileText(kSection, u"WMFontType", u"Helvetica", path);
  if (settings.WMFontType != u"Courier" && settings.WMFontType != u"Helvetica" && settings.WMFontType != u"Times" &&
      settings.WMFontType != u"Arial") {
    settings.WMFontType = u"Helvetica";
  }

  settings.WMBottomOffset = read_int(u"WMBottomOffset", 20);
  if (settings.WMBottomOffset < 0 || settings.WMBottomOffset > 100000) settings.WMBottomOffset = 20;
  settings.WMLeftOffset = read_int(u"WMLeftOffset", 20);
  if (settings.WMLeftOffset < 0 || settings.WMLeftOffset > 100000) settings.WMLeftOffset = 20;

  return settings;
}

}  // namespace quillaro

#include "config/settings.h"

#include <charconv>
#include <cstdint>
#include <string>

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
  // Each key's default, and what a value out of its range falls back to.
  const Settings defaults;
  Settings settings;
  const std::string path = ToNarrow(GetDataFolder()) + kPathSeparator + "settings.ini";
  auto read_int = [&](const char16_t* key, int32_t fallback) {
    return GetProfileInteger(kSection, key, fallback, path);
  };

  settings.IsConvert = read_int(u"IsConvert", defaults.IsConvert) == 1;
  settings.Type = read_int(u"Type", defaults.Type);
  settings.ImageType = read_int(u"ImageType", defaults.ImageType);
  settings.PagesMaxCount = read_int(u"PagesMaxCount", defaults.PagesMaxCount);
  settings.Quality = read_int(u"Quality", defaults.Quality);
  settings.LongPixelLength = read_int(u"LongPixelLength", defaults.LongPixelLength);
  settings.DeleteSeconds = read_int(u"DeleteSeconds", defaults.DeleteSeconds);
  settings.Parallel = read_int(u"Parallel", defaults.Parallel);
  if (settings.Parallel < 0 || settings.Parallel > kMaxParallel)
    settings.Parallel = defaults.Parallel;
  settings.IsLog = read_int(u"IsLog", defaults.IsLog) == 1;
  settings.IsReport = read_int(u"IsReport", defaults.IsReport) == 1;
  settings.IsQuarantine = read_int(u"IsQuarantine", defaults.IsQuarantine) == 1;
  // The colour verdict's numbers; one out of its bounds takes its default.
  auto read_bounded = [&](const char16_t* key, int32_t fallback, int32_t low, int32_t high) {
    const int32_t value = read_int(key, fallback);
    return value < low || value > high ? fallback : value;
  };
  const ColourRule& rule = defaults.ReportColourRule;
  settings.ReportColourRule.chroma_threshold =
      read_bounded(u"ReportChromaThreshold", rule.chroma_threshold, 0, kMaxChromaThreshold);
  settings.ReportColourRule.inked_below =
      read_bounded(u"ReportInkedBelow", rule.inked_below, 1, kMaxInkedBelow);
  settings.ReportColourRule.min_coloured_pixels = static_cast<uint64_t>(read_bounded(
      u"ReportMinColouredPixels", static_cast<int32_t>(rule.min_coloured_pixels), 1, INT32_MAX));
  settings.ReportColourRule.neighbourhood_radius_px = read_bounded(
      u"ReportNeighbourhoodRadius", rule.neighbourhood_radius_px, 0, kMaxNeighbourhoodRadiusPx);
  settings.MaxJobMegabytes = read_int(u"MaxJobMegabytes", defaults.MaxJobMegabytes);
  if (settings.MaxJobMegabytes < 1) settings.MaxJobMegabytes = defaults.MaxJobMegabytes;
  settings.WMUnconfined = read_int(u"WMUnconfined", defaults.WMUnconfined) == 1;
  settings.WaitSeconds = read_int(u"WaitSeconds", defaults.WaitSeconds);
  if (settings.WaitSeconds < 10) settings.WaitSeconds = 10;
  if (settings.WaitSeconds > 60) settings.WaitSeconds = 60;
  settings.WMEnable = read_int(u"WMEnable", defaults.WMEnable) == 1;

  // The text itself, not the number, goes into the watermark prolog, so a
  // valid ".5" stays ".5".
  settings.WMGrayLevel = GetProfileText(kSection, u"WMGrayLevel", defaults.WMGrayLevel, path);
  double gray = LeadingNumber(settings.WMGrayLevel);
  if (!(gray > 0.00000001 && gray < 1.00000001)) settings.WMGrayLevel = defaults.WMGrayLevel;

  settings.WMFontSize = read_int(u"WMFontSize", defaults.WMFontSize);
  if (settings.WMFontSize < 3 || settings.WMFontSize > 100)
    settings.WMFontSize = defaults.WMFontSize;

  settings.WMFontType = GetProfileText(kSection, u"WMFontType", defaults.WMFontType, path);
  if (settings.WMFontType != u"Courier" && settings.WMFontType != u"Helvetica" &&
      settings.WMFontType != u"Times" && settings.WMFontType != u"Arial") {
    settings.WMFontType = defaults.WMFontType;
  }

  settings.WMBottomOffset = read_int(u"WMBottomOffset", defaults.WMBottomOffset);
  if (settings.WMBottomOffset < 0 || settings.WMBottomOffset > 100000) {
    settings.WMBottomOffset = defaults.WMBottomOffset;
  }
  settings.WMLeftOffset = read_int(u"WMLeftOffset", defaults.WMLeftOffset);
  if (settings.WMLeftOffset < 0 || settings.WMLeftOffset > 100000) {
    settings.WMLeftOffset = defaults.WMLeftOffset;
  }

  return settings;
}

}  // namespace quillaro

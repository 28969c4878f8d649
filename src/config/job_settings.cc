#include <charconv>
#include <cstdint>
#include <string>

#include "config/job.h"
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

Job::Job() { LoadSettings(); }

void Job::LoadSettings() {
  const std::string path = ToNarrow(GetDataFolder()) + kPathSeparator + "settings.ini";
  auto read_int = [&](const char16_t* key, int32_t fallback) {
    return GetProfileInteger(kSection, key, fallback, path);
  };

  IsConvert = read_int(u"IsConvert", 0) == 1;
  Type = read_int(u"Type", 0);
  ImageType = read_int(u"ImageType", 0);
  PagesMaxCount = read_int(u"PagesMaxCount", 10);
  Quality = read_int(u"Quality", 80);
  LongPixelLength = read_int(u"LongPixelLength", 80);
  DeleteSeconds = read_int(u"DeleteSeconds", 900);
  Parallel = read_int(u"Parallel", 1);
  if (Parallel < 0 || Parallel > kMaxParallel) Parallel = 1;
  IsLog = read_int(u"IsLog", 0) == 1;
  IsReport = read_int(u"IsReport", 0) == 1;
  IsQuarantine = read_int(u"IsQuarantine", 0) == 1;
  // The colour verdict's numbers; one out of its bounds takes its default.
  auto read_bounded = [&](const char16_t* key, int32_t fallback, int32_t low, int32_t high) {
    const int32_t value = read_int(key, fallback);
    return value < low || value > high ? fallback : value;
  };
  const ColourRule defaults;
  ReportColourRule.chroma_threshold =
      read_bounded(u"ReportChromaThreshold", defaults.chroma_threshold, 0, kMaxChromaThreshold);
  ReportColourRule.inked_below =
      read_bounded(u"ReportInkedBelow", defaults.inked_below, 1, kMaxInkedBelow);
  ReportColourRule.min_coloured_pixels = static_cast<uint64_t>(
      read_bounded(u"ReportMinColouredPixels", static_cast<int32_t>(defaults.min_coloured_pixels),
                   1, INT32_MAX));
  ReportColourRule.neighbourhood_radius_px = read_bounded(
      u"ReportNeighbourhoodRadius", defaults.neighbourhood_radius_px, 0, kMaxNeighbourhoodRadiusPx);
  MaxJobMegabytes = read_int(u"MaxJobMegabytes", kDefaultMaxJobMegabytes);
  if (MaxJobMegabytes < 1) MaxJobMegabytes = kDefaultMaxJobMegabytes;
  WMUnconfined = read_int(u"WMUnconfined", 0) == 1;
  WaitSeconds = read_int(u"WaitSeconds", 30);
  if (WaitSeconds < 10) WaitSeconds = 10;
  if (WaitSeconds > 60) WaitSeconds = 60;
  WMEnable = read_int(u"WMEnable", 0) == 1;

  // The text itself, not the number, goes into the watermark prolog, so a
  // valid ".5" stays ".5".
  WMGrayLevel = GetProfileText(kSection, u"WMGrayLevel", u"0.8", path);
  double gray = LeadingNumber(WMGrayLevel);
  if (!(gray > 0.00000001 && gray < 1.00000001)) WMGrayLevel = u"0.8";

  WMFontSize = read_int(u"WMFontSize", 12);
  if (WMFontSize < 3 || WMFontSize > 100) WMFontSize = 12;

  WMFontType = GetProfileText(kSection, u"WMFontType", u"Helvetica", path);
  if (WMFontType != u"Courier" && WMFontType != u"Helvetica" && WMFontType != u"Times" &&
      WMFontType != u"Arial") {
    WMFontType = u"Helvetica";
  }

  WMBottomOffset = read_int(u"WMBottomOffset", 20);
  if (WMBottomOffset < 0 || WMBottomOffset > 100000) WMBottomOffset = 20;
  WMLeftOffset = read_int(u"WMLeftOffset", 20);
  if (WMLeftOffset < 0 || WMLeftOffset > 100000) WMLeftOffset = 20;

  Loaded = 1;
}

}  // namespace quillaro

#ifndef QUILLARO_CONFIG_SETTINGS_H_
#define QUILLARO_CONFIG_SETTINGS_H_

#include <cstdint>
#include <string>

#include "config/colour_rule.h"

namespace quillaro {

// What settings.ini says, with the defaults and corrections applied: a plain
// value, read once for each job (so a change to the file counts from the
// next job on, without a restart) and handed to the stages, which only read
// it. The names are the file's keys.
struct Settings {
  bool IsConvert = false;
  int32_t Type = 0;
  int32_t ImageType = 0;
  int32_t PagesMaxCount = 10;
  int32_t Quality = 80;
  int32_t LongPixelLength = 80;
  int32_t DeleteSeconds = 900;
  // Jobs that may run their stages at once on the machine, 0 for one per
  // core; the service reads it once, for its first job.
  int32_t Parallel = 1;
  bool IsLog = false;
  // 1: write out/NAME_report.json for every converted job.
  bool IsReport = false;
  // The colour verdict's numbers (ReportChromaThreshold, ReportInkedBelow,
  // ReportMinColouredPixels, ReportNeighbourhoodRadius), each within the
  // bounds of colour_rule.h.
  ColourRule ReportColourRule;
  // 1: move jobs whose interpretation failed to failed/.
  bool IsQuarantine = false;
  // Time limit of each interpreter run, 10 to 60 seconds.
  int32_t WaitSeconds = 30;
  // The largest job read, in MiB (1 MiB = 1048576 bytes); a larger one is
  // refused with its marker and a failure.
  int32_t MaxJobMegabytes = 1024;
  bool WMEnable = false;
  // 1: watermark jobs even where the kernel cannot confine the interpreter
  // runs (no Landlock); otherwise such jobs are refused.
  bool WMUnconfined = false;
  std::u16string WMGrayLevel = u"0.8";
  int32_t WMFontSize = 12;
  std::u16string WMFontType = u"Helvetica";
  int32_t WMBottomOffset = 20;
  int32_t WMLeftOffset = 20;
};

// Reads every key of section Settings of settings.ini in the data folder
// afresh: a missing file, section or key gives the default above, a value
// out of its range the default or its nearest bound. Never fails; any
// thread.
Settings LoadSettings();

}  // namespace quillaro

#endif  // QUILLARO_CONFIG_SETTINGS_H_

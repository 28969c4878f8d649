#ifndef QUILLARO_CONFIG_RESULT_NAMES_H_
#define QUILLARO_CONFIG_RESULT_NAMES_H_

#include <string>
#include <string_view>

namespace quillaro {

// The names of everything the stages write, in one place: the results in
// out/ (after the job's STEM or NAME), the files a job run makes beside its
// private copy, and the side file that comes with a watermark job. The
// inbox skips every file whose name holds one of kOwnNameParts, so that
// nothing the service writes is ever taken for a job; the checks at the end
// keep the two lists in step.

// Results named after STEM.
inline constexpr std::string_view kPagesCountSuffix = "_pagescount.txt";
inline constexpr std::string_view kColorCoverageSuffix = "_colorcoverage.txt";
inline constexpr std::string_view kPaperSizeSuffix = "_papersize.txt";
// The page images: STEM_n plus the extension of the configured format.
inline constexpr std::string_view kJpegExtension = ".jpg";
inline constexpr std::string_view kGifExtension = ".gif";
inline constexpr std::string_view kPngExtension = ".png";
inline constexpr std::string_view kTiffExtension = ".tiff";

// Results named after NAME.
inline constexpr std::string_view kReportSuffix = "_report.json";
inline constexpr std::string_view kWatermarkedSuffix = ".watermarked";
// In failed/ beside a quarantined job: why it failed.
inline constexpr std::string_view kReasonSuffix = ".reason.txt";

// A watermark job's text comes in a side file of the job's NAME and this.
inline constexpr std::string_view kWatermarkTextSuffix = "_watermark.txt";
// Files of the watermark route's interpreter runs, beside the job's copy.
inline constexpr std::string_view kWatermarkPrologSuffix = "_watermark.code";
inline constexpr std::string_view kCopySuffix = ".copy";
inline constexpr std::string_view kPclToPostScriptSuffix = ".pcl_2_ps";
inline constexpr std::string_view kPostScriptToPclXlSuffix = ".ps_2_pcl";

// `base` followed by `suffix`: the path of a result, an intermediate file or
// a side file.
inline std::string WithSuffix(const std::string& base, std::string_view suffix) {
  std::string path;
  path.reserve(base.size() + suffix.size());
  return path.append(base).append(suffix);
}

// Parts of a file name that mark it as the service's own, tested in this
// order (case-sensitive): ".jpeg" is no longer written, but older versions
// wrote it.
inline constexpr std::string_view kOwnNameParts[] = {
    "watermark", "_pagescount", "_colorcoverage", "_papersize", ".copy",    ".png",
    ".jpg",      ".jpeg",       ".gif",           ".tiff",      "pcl_2_ps", "ps_2_pcl",
};

constexpr bool HasOwnNamePart(std::string_view name) {
  for (std::string_view part : kOwnNameParts) {
    if (name.find(part) != std::string_view::npos) return true;
  }
  return false;
}

// What the stages write where jobs could be taken for new ones is skipped.
static_assert(HasOwnNamePart(kPagesCountSuffix) && HasOwnNamePart(kColorCoverageSuffix) &&
              HasOwnNamePart(kPaperSizeSuffix));
static_assert(HasOwnNamePart(kJpegExtension) && HasOwnNamePart(kGifExtension) &&
              HasOwnNamePart(kPngExtension) && HasOwnNamePart(kTiffExtension));
static_assert(HasOwnNamePart(kWatermarkTextSuffix) && HasOwnNamePart(kWatermarkPrologSuffix) &&
              HasOwnNamePart(kWatermarkedSuffix) && HasOwnNamePart(kCopySuffix) &&
              HasOwnNamePart(kPclToPostScriptSuffix) && HasOwnNamePart(kPostScriptToPclXlSuffix));

// The endings of the completion markers a job leaves in out/: NAME_done for
// a job, NAME_watermark_done_ok or NAME_watermark_done_error for one of the
// watermark route.
inline constexpr char16_t kDoneMarkerSuffix[] = u"_done";
inline constexpr char16_t kWatermarkOkMarkerSuffix[] = u"_watermark_done_ok";
inline constexpr char16_t kWatermarkErrorMarkerSuffix[] = u"_watermark_done_error";

// The file name of the marker with `suffix` for the job named `job_name`:
// `job_name` + `suffix`, unless that is too long for a file name (a job name
// may itself be as long as the system allows). Such a name is shortened:
// the longest head of `job_name` that leaves room (never splitting a
// character), "~", the 16 lower-case hex digits of the 64-bit FNV-1a hash of
// the whole job name (its bytes as in/ lists them), then `suffix`. The hash
// keeps two long names with a common head apart; a client finds the marker
// by the same rule. Pure; any thread.
std::u16string MarkerFileName(const std::u16string& job_name, std::u16string_view suffix);

}  // namespace quillaro

#endif  // QUILLARO_CONFIG_RESULT_NAMES_H_

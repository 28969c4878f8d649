// The media probe: a job whose pages are not rendered (Type 0) still gets the
// sheet of every page in its report, from one extra interpreter run that
// renders the pages at 100 dpi in 1 bit per pixel, the cheapest raster there
// is (an A4 page is 120 kB), only to read their sizes.

#include "interp/media_probe.h"

#include <cstdio>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "config/path_utils.h"
#include "config/text_utils.h"
#include "interp/interpreter_runs.h"
#include "interp/job_body.h"
#include "interp/page_file_pattern.h"
#include "platform/file_system.h"
#include "platform/module_path.h"
#include "platform/monotonic_clock.h"
#include "platform/pnm_header.h"
#include "platform/unique_file.h"

namespace quillaro {
namespace {

// The "_" at the end keeps the probe's page files apart from the results,
// as the rendered pages are.
constexpr char kProbePageSuffix[] = ".pbm_";

// Width and height from the header of a binary PBM. None for anything else,
// or for a side too long to count in pixels.
std::optional<std::pair<int32_t, int32_t>> ReadPbmSize(const std::string& path) {
  UniqueFile file(OpenRegularFileForReading(path));
  if (!file) return std::nullopt;
  char header[512];
  const size_t size = std::fread(header, 1, sizeof header, file.get());
  const std::optional<PnmHeader> pnm = ReadPnmHeader(std::string_view(header, size));
  constexpr uint64_t kMaxSide = std::numeric_limits<int32_t>::max();
  if (!pnm || pnm->format != PnmFormat::kBitmap || pnm->width > kMaxSide ||
      pnm->height > kMaxSide) {
    return std::nullopt;
  }
  return std::make_pair(static_cast<int32_t>(pnm->width), static_cast<int32_t>(pnm->height));
}

}  // namespace

ProbedMedia ProbeMedia(const Settings& settings, const StagedJob& job) {
  ProbedMedia result;
  if (job.path.empty()) return result;
  const std::string pattern = EscapePagePattern(FolderOf(job.path) + kPathSeparator +
                                                ToNarrow(JobFileStem(ToWide(job.path)))) +
                              "_%d" + kProbePageSuffix;
  // The interpreter the other stages choose, or each in their fallback
  // order; pages a failed attempt left are overwritten by the next one, or
  // removed below.
  auto probe = [&](const std::string& input) {
    const std::u16string command_line =
        u"-q -dNOPAUSE -dBATCH -dSAFER -r100x100 -sDEVICE=pbmraw -sOutputFile=" +
        ToWide(QuoteArgument(pattern)) + u" -dFirstPage=1 -dLastPage=" +
        FormatIntW(kMaxExaminedPages) + u" " + ToWide(QuoteArgument(input));
    return RunWithChosenInterpreter(input, [&](Interpreter interpreter) {
      std::string output;
      const uint64_t started_ms = MonotonicMilliseconds();
      const int code = RunInterpreter(interpreter, command_line, output, settings.WaitSeconds,
                                      FolderOf(job.path));
      result.note.NoteRun(interpreter, code, output, MonotonicMilliseconds() - started_ms);
      return code == 0 ? 1 : 0;
    });
  };
  RunOnJobOrItsBody(job.path, ".probed-body", probe);

  for (int32_t page = 1; page <= kMaxExaminedPages + 1; ++page) {
    const std::string file = PageFileName(pattern, page);
    if (!PathExists(file)) break;
    if (const auto size = ReadPbmSize(file); size && result.note.succeeded_run()) {
      result.pages.push_back({page, size->first, size->second});
    }
    RemoveFile(file);
  }
  return result;
}

}  // namespace quillaro

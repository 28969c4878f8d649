#include <cstdint>
#include <string>

#include "config/job.h"
#include "config/log_file.h"
#include "config/path_utils.h"
#include "config/result_file.h"
#include "config/text_utils.h"
#include "inspect/bounding_box.h"
#include "inspect/language_detection.h"
#include "inspect/paper_sizes.h"
#include "inspect/pjl_header.h"
#include "interp/interpreter_runs.h"
#include "interp/job_body.h"
#include "platform/file_system.h"
#include "platform/module_path.h"
#include "platform/monotonic_clock.h"

namespace quillaro {
namespace {

// The bbox device reports every page on a line with this marker.
constexpr char kPageMarker[] = "HiResBoundingBox";
constexpr float kPaperToleranceMm = 5.0f;

int64_t CountPages(const std::string& output) {
  int64_t pages = 0;
  const size_t marker_size = sizeof kPageMarker - 1;
  for (size_t at = output.find(kPageMarker); at != std::string::npos;
       at = output.find(kPageMarker, at + marker_size)) {
    ++pages;
  }
  return pages;
}

std::string ToUpperAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

// The page-count run of one interpreter over the job file. Only the PCL run
// logs the measured paper names; the other two write them silently.
int CalculatePages(Job& job, Interpreter interpreter, const char16_t* options,
                   bool logs_paper_names) {
  const std::u16string command_line = options + ToWide(QuoteArgument(job.ReadPathA()));
  std::string output;
  // The pages are counted, and their sizes read, from what the bbox device
  // reports on standard error alone: a job can print the same words to
  // standard output, and must not set its own page count that way.
  std::string device_output;
  const uint64_t started_ms = MonotonicMilliseconds();
  const int code = RunInterpreter(interpreter, command_line, output, job.WaitSeconds,
                                  FolderOf(job.FilePathA), &device_output);
  const int64_t pages = code == 0 ? CountPages(device_output) : 0;
  job.Report.measurement.NoteRun(interpreter, code, output, MonotonicMilliseconds() - started_ms,
                                 code == 0 && pages == 0);
  job.Report.measured_pages = pages;
  const std::u16string message =
      u"Calculating " + InterpreterWord(interpreter) + u" file " + ToWide(job.LoggedPath());
  if (code != 0) {
    if (job.IsLog) WriteLog(message + u" ERROR (" + FormatIntW(code) + u")");
    return 0;
  }
  if (pages == 0) {
    if (job.IsLog) WriteLog(message + u" ERROR (0 pages)");
    return 0;
  }
  // The total is a 32-bit count: a hostile copy count wraps it rather than
  // overflowing.
  const int64_t product = pages * static_cast<int64_t>(GetPjlCopies(job.FilePathA));
  const int32_t total = static_cast<int32_t>(static_cast<uint32_t>(product));
  WriteResultFile(job.PagesCountFile, FormatIntA(total));
  if (job.IsLog) WriteLog(message + u" OK");

  // A paper name from the PJL header, or one left by an earlier job of the
  // same name, is not replaced by measured names.
  if (!PathExists(job.PaperSizeFile)) {
    float width_mm = 0;
    float height_mm = 0;
    ReadBoundingBox(device_output, width_mm, height_mm);
    PaperTable names;
    MatchPaperSizes(names, width_mm, height_mm, kPaperToleranceMm);
    std::string text;
    for (const auto& [key, paper] : names) text += paper.Name + "\r\n";
    WriteResultFile(job.PaperSizeFile, text);
    if (logs_paper_names && job.IsLog) {
      WriteLog(u"Calculating page size PCL file " + ToWide(job.LoggedPath()) + u" OK");
    }
  }
  return 1;
}

// Writes the display name of the paper the PJL header asks for, when the
// paper table knows it.
void WritePjlPaperName(const Job& job) {
  const std::string value = ToUpperAscii(GetPjlPaper(job.FilePathA));
  if (value.empty()) return;
  PaperTable table;
  FillPaperTable(table);
  for (const auto& [key, paper] : table) {
    if (ToUpperAscii(paper.PjlName) != value) continue;
    WriteResultFile(job.PaperSizeFile, paper.Name);
    if (job.IsLog) WriteLog(u"Calculating page size file " + ToWide(job.LoggedPath()) + u" OK");
    return;
  }
}

}  // namespace

int Job::CalculatePcl() {
  // The leading blank gives the PCL interpreter an empty program name.
  return CalculatePages(*this, Interpreter::kPcl, u" -dNOPAUSE -dBATCH -sDEVICE=bbox ", true);
}

int Job::CalculateXps() {
  return CalculatePages(*this, Interpreter::kXps, u"-q -dNOPAUSE -dBATCH -sDEVICE=bbox ", false);
}

int Job::CalculatePs() {
  return CalculatePages(*this, Interpreter::kPs, u"-q -dNOPAUSE -dBATCH -sDEVICE=bbox ", false);
}

int Job::MeasurePages(std::u16string job_path) {
  if (Loaded == 0) LoadSettings();
  if (!IsConvert) return 1;
  FilePathA = ToNarrow(job_path);
  if (FilePathA.empty()) return 0;

  const std::string stem_path = OutFolderA() + kPathSeparator + ToNarrow(JobFileStem(job_path));
  PagesCountFile = stem_path + "_pagescount.txt";
  ColorCoverageFile = stem_path + "_colorcoverage.txt";
  PaperSizeFile = stem_path + "_papersize.txt";

  WritePjlPaperName(*this);

  auto calculate = [this](Interpreter interpreter) {
    switch (interpreter) {
      case Interpreter::kPs:
        return CalculatePs();
      case Interpreter::kPcl:
        return CalculatePcl();
      case Interpreter::kXps:
        return CalculateXps();
    }
    return 0;
  };
  BodyPathA.clear();
  if (RunWithChosenInterpreter(FilePathA, calculate) != 0) return 1;
  // No interpreter read the whole job: a PJL-wrapped one is read again
  // without its PJL layer, as the printer's language interpreter reads it.
  const std::optional<std::string> body = WritePjlJobBody(FilePathA, ".measured-body");
  if (!body) return 0;
  BodyPathA = *body;
  const int result = RunWithChosenInterpreter(BodyPathA, calculate);
  RemoveFile(BodyPathA);
  BodyPathA.clear();
  return result;
}

}  // namespace quillaro

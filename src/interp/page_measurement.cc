#include "interp/page_measurement.h"

#include <cstdint>
#include <string>

#include "config/log_file.h"
#include "config/path_utils.h"
#include "config/result_file.h"
#include "config/result_names.h"
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

// One measurement under way: what it reads and where its results go.
struct Measuring {
  const Settings& settings;
  const StagedJob& job;
  // What the interpreters read: the job's copy, or its body without the PJL
  // layer when they could not read the whole job.
  std::string input;
  std::string pages_count_file;
  std::string paper_size_file;
  PageCount& result;
};

// The page-count run of one interpreter over the job file. Only the PCL run
// logs the measured paper names; the other two write them silently.
int CalculatePages(Measuring& m, Interpreter interpreter, const char16_t* options,
                   bool logs_paper_names) {
  const std::u16string command_line = options + ToWide(QuoteArgument(m.input));
  std::string output;
  // The pages are counted, and their sizes read, from what the bbox device
  // reports on standard error alone: a job can print the same words to
  // standard output, and must not set its own page count that way.
  std::string device_output;
  const uint64_t started_ms = MonotonicMilliseconds();
  const int code = RunInterpreter(interpreter, command_line, output, m.settings.WaitSeconds,
                                  FolderOf(m.job.path), &device_output);
  const int64_t pages = code == 0 ? CountPages(device_output) : 0;
  m.result.note.NoteRun(interpreter, code, output, MonotonicMilliseconds() - started_ms,
                        code == 0 && pages == 0);
  m.result.pages = pages;
  const bool log = m.settings.IsLog;
  const std::u16string message =
      u"Calculating " + InterpreterWord(interpreter) + u" file " + ToWide(m.job.LoggedPath());
  if (code != 0) {
    if (log) WriteLog(message + u" ERROR (" + FormatIntW(code) + u")");
    return 0;
  }
  if (pages == 0) {
    if (log) WriteLog(message + u" ERROR (0 pages)");
    return 0;
  }
  // The total is a 32-bit count: a hostile copy count wraps it rather than
  // overflowing.
  const int64_t product = pages * static_cast<int64_t>(GetPjlCopies(m.job.path));
  const int32_t total = static_cast<int32_t>(static_cast<uint32_t>(product));
  WriteResultFile(m.pages_count_file, FormatIntA(total));
  if (log) WriteLog(message + u" OK");

  // A paper name from the PJL header, or one left by an earlier job of the
  // same name, is not replaced by measured names.
  if (!PathExists(m.paper_size_file)) {
    float width_mm = 0;
    float height_mm = 0;
    ReadBoundingBox(device_output, width_mm, height_mm);
    PaperTable names;
    MatchPaperSizes(names, width_mm, height_mm, kPaperToleranceMm);
    std::string text;
    for (const auto& [key, paper] : names) text += paper.Name + "\r\n";
    WriteResultFile(m.paper_size_file, text);
    if (logs_paper_names && log) {
      WriteLog(u"Calculating page size PCL file " + ToWide(m.job.LoggedPath()) + u" OK");
    }
  }
  return 1;
}

int CalculatePcl(Measuring& m) {
  // The leading blank gives the PCL interpreter an empty program name.
  return CalculatePages(m, Interpreter::kPcl, u" -dNOPAUSE -dBATCH -sDEVICE=bbox ", true);
}

int CalculateXps(Measuring& m) {
  return CalculatePages(m, Interpreter::kXps, u"-q -dNOPAUSE -dBATCH -sDEVICE=bbox ", false);
}

int CalculatePs(Measuring& m) {
  return CalculatePages(m, Interpreter::kPs, u"-q -dNOPAUSE -dBATCH -sDEVICE=bbox ", false);
}

// Writes the display name of the paper the PJL header asks for, when the
// paper table knows it.
void WritePjlPaperName(const Measuring& m) {
  const std::string value = ToUpperAscii(GetPjlPaper(m.job.path));
  if (value.empty()) return;
  PaperTable table;
  FillPaperTable(table);
  for (const auto& [key, paper] : table) {
    if (ToUpperAscii(paper.PjlName) != value) continue;
    WriteResultFile(m.paper_size_file, paper.Name);
    if (m.settings.IsLog) {
      WriteLog(u"Calculating page size file " + ToWide(m.job.LoggedPath()) + u" OK");
    }
    return;
  }
}

}  // namespace

PageCount MeasurePages(const Settings& settings, const StagedJob& job) {
  PageCount result;
  if (!settings.IsConvert) {
    result.ok = true;
    return result;
  }
  if (job.path.empty()) return result;

  const std::string stem_path =
      OutFolderA() + kPathSeparator + ToNarrow(JobFileStem(ToWide(job.path)));
  Measuring m{settings,
              job,
              job.path,
              WithSuffix(stem_path, kPagesCountSuffix),
              WithSuffix(stem_path, kPaperSizeSuffix),
              result};
  WritePjlPaperName(m);

  auto calculate = [&m](Interpreter interpreter) {
    switch (interpreter) {
      case Interpreter::kPs:
        return CalculatePs(m);
      case Interpreter::kPcl:
        return CalculatePcl(m);
      case Interpreter::kXps:
        return CalculateXps(m);
    }
    return 0;
  };
  result.ok = RunOnJobOrItsBody(job.path, ".measured-body", [&](const std::string& input) {
                m.input = input;
                return RunWithChosenInterpreter(input, calculate);
              }) != 0;
  return result;
}

}  // namespace quillaro

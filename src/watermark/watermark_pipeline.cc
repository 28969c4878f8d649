// The watermark pipeline: takes a PJL-wrapped job apart, stamps its body with
// the watermark prolog through a PostScript interpreter run (a PCL body is
// turned into PostScript first and into PCL XL afterwards), and puts the job
// back together in out/ with its own PJL header and trailer.

#include "watermark/watermark_pipeline.h"

#include <cstddef>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "config/path_utils.h"
#include "config/result_file.h"
#include "config/result_names.h"
#include "config/text_utils.h"
#include "inspect/language_detection.h"
#include "inspect/pjl_header.h"
#include "interp/interpreter_runs.h"
#include "interp/page_file_pattern.h"
#include "platform/file_system.h"
#include "platform/module_path.h"
#include "platform/private_folder.h"
#include "platform/system_files.h"
#include "platform/unique_file.h"

namespace quillaro {
namespace {

// Only this much of the side file's first line is read: the prolog has room
// for less, and a side file without line ends must not be read whole.
constexpr std::size_t kMaxWatermarkTextBytes = 4095;

// "-sOutputFile=" for `path`: the interpreters read the name as a page
// pattern, so a "%" in a job's name is doubled to stand for itself.
std::string OutputFileArgument(const std::string& path) {
  return "-sOutputFile=" + QuoteArgument(EscapePagePattern(path));
}

// Every run keeps the interpreter's safe mode on: the job's PostScript may
// read only the files the run is given, and write only its output. The
// folder the run works in is named too, for the interpreter's own temporary
// files there (the private folder holds nothing else of anyone's).
std::vector<std::string> SafeModeArguments(const std::string& folder) {
  const std::string permitted = QuoteArgument(folder + kPathSeparator + "*");
  return {"-dSAFER", "--permit-file-read=" + permitted, "--permit-file-write=" + permitted};
}

// The argument list of one run: the common options, the safe mode, then
// `rest`.
std::vector<std::string> RunArguments(const std::string& folder, std::vector<std::string> rest) {
  std::vector<std::string> arguments = {"-dBATCH", "-dNOPAUSE"};
  for (std::string& argument : SafeModeArguments(folder)) arguments.push_back(std::move(argument));
  for (std::string& argument : rest) arguments.push_back(std::move(argument));
  return arguments;
}

// A file's bytes, or nothing when it is no regular file or cannot be read.
// Never follows a link planted under the name.
std::optional<std::string> ReadFileBytes(const std::string& path) {
  UniqueFile file(OpenRegularFileForReading(path));
  if (!file) return std::nullopt;
  std::string bytes;
  char block[65536];
  std::size_t got;
  while ((got = std::fread(block, 1, sizeof block, file.get())) > 0) bytes.append(block, got);
  return bytes;
}

// The first line of a text file as a Windows text-mode stream reads it: CR LF
// reads as LF, byte 0x1A ends the data, the line end is not part of the line.
// At most `max_bytes` bytes of the line are kept. Empty optional when the
// file cannot be opened.
std::optional<std::string> ReadFirstLine(const std::string& path, std::size_t max_bytes) {
  // The side file may be a link dropped into in/: it is never followed.
  UniqueFile file(OpenRegularFileForReading(path));
  if (!file) return std::nullopt;
  std::string line;
  int c;
  while (line.size() < max_bytes && (c = std::fgetc(file.get())) != EOF && c != '\n' &&
         c != '\x1A') {
    if (c == '\r') {
      // A CR ends the line only as part of CR LF; a lone CR is text.
      const int next = std::fgetc(file.get());
      if (next == '\n') break;
      if (next != EOF) std::ungetc(next, file.get());
    }
    line += static_cast<char>(c);
  }
  return line;
}

// Writes `text` as a Windows text-mode stream does: every LF stored as CR LF.
void WriteTextFile(const std::string& path, std::string text) {
  ReplaceAll(text, "\n", "\r\n");
  WriteResultFile(path, text);
}

// What the pipeline needs to know of the job file, read from it once.
struct WatermarkJob {
  std::string header;  // the PJL header, body and trailer: the file's bytes
  std::string body;
  std::string trailer;
  // The body is PCL 5 or PCL XL: it goes through PostScript for stamping.
  bool is_pcl = false;
  // The stamped PostScript is the result as it is; otherwise it is turned
  // into PCL XL.
  bool finishes_in_postscript = false;
};

// Reads the job at `path` when the pipeline can stamp it: PostScript, PDF,
// PCL or PCL XL in a PJL wrapper. Nothing otherwise.
std::optional<WatermarkJob> ReadWatermarkJob(const std::string& path) {
  bool is_postscript_or_pdf = IsPostScript(path) != 0 || IsPdf(path) != 0;
  WatermarkJob job;
  job.is_pcl = IsPcl(path) != 0 || IsPclXl(path) != 0;
  // Only a job whose first line holds the UEL splits. A header without a
  // language line (foomatic's PCL drivers write one, for the printer to
  // tell the language from the content) ends with its last PJL line.
  bool has_language_line = true;
  if (SplitPjlJob(path, job.header, job.body, job.trailer) == 0) {
    has_language_line = false;
    if (SplitPjlJobAtHeaderEnd(path, job.header, job.body, job.trailer) == 0) return std::nullopt;
  }
  // The content tests read the file from its first line, which is the
  // header's; when they tell nothing, the body's first bytes do for a PDF
  // behind PJL (a vendor's PDF driver writes it) and, behind a header that
  // names no language, for PCL that begins with a reset, as foomatic's does.
  if (!is_postscript_or_pdf && !job.is_pcl) {
    const std::string_view body = job.body;
    is_postscript_or_pdf = body.starts_with("%PDF-");
    job.is_pcl = !has_language_line && body.size() >= 2 && body[0] == '\x1b' &&
                 (body[1] == 'E' || (body[1] >= '!' && body[1] <= '/'));
  }
  if (!is_postscript_or_pdf && !job.is_pcl) return std::nullopt;
  // The PJL language decides first, the content after it.
  job.finishes_in_postscript =
      InterpreterForPjlLanguage(GetPjlLanguage(path)) == Interpreter::kPs || is_postscript_or_pdf;
  return job;
}

// The interpreter runs of one watermark job. Their notes are kept by no
// one: the watermark route has no report.
struct Stamping {
  const Settings& settings;
  const StagedJob& job;
  StageNote runs;
};

// Turns the whole PCL job into PostScript with the PCL interpreter and puts
// its body in place of `*body`. False when the run failed.
bool ConvertPclBodyToPostScript(Stamping& stamping, std::string* body) {
  const std::string& path = stamping.job.path;
  const std::string postscript_path = WithSuffix(path, kPclToPostScriptSuffix);
  // The interpreter makes the file anew rather than writing through
  // whatever was dropped under that name.
  RemoveFile(postscript_path);
  if (ConvertPcl(
          stamping.settings, stamping.job,
          RunArguments(FolderOf(path), {"-sDEVICE=ps2write", "-dDisplayResolution=300",
                                        OutputFileArgument(postscript_path), QuoteArgument(path)}),
          stamping.runs) == 0) {
    return false;
  }
  std::string unused_header;
  std::string postscript_body;
  std::string unused_trailer;
  if (SplitPjlJob(postscript_path, unused_header, postscript_body, unused_trailer) != 0) {
    *body = std::move(postscript_body);
  } else {
    *body = ReadFileBytes(postscript_path).value_or(std::string());
  }
  RemoveFile(postscript_path);
  return true;
}

// The watermark text: the first line of the side file `job_path` +
// "_watermark.txt". Nothing when there is no side file or its line is empty.
std::optional<std::string> ReadWatermarkText(const std::string& job_path) {
  const std::string text_path = WithSuffix(job_path, kWatermarkTextSuffix);
  if (!FileExistsA(text_path)) return std::nullopt;
  std::optional<std::string> text = ReadFirstLine(text_path, kMaxWatermarkTextBytes);
  if (!text || text->empty()) return std::nullopt;
  return text;
}

// ps2write records the options of its run, their values masked, in an
// "%%Invocation:" comment at the head of the stamped job. The safe-mode
// options are the service's own, not the job's: in that record they stand
// as the one option the stamping runs were always described by, so that a
// stamped job stays the same byte for byte as the runs without the safe
// mode made it.
void RestoreInvocationComment(std::string& postscript) {
  constexpr std::string_view kComment = "\n%%Invocation:";
  constexpr std::string_view kSafeMode = " -dSAFER --permit-file-read=? --permit-file-write=? ";
  constexpr std::size_t kHeadBytes = 256;
  const std::size_t comment = postscript.find(kComment);
  if (comment == std::string::npos || comment > kHeadBytes) return;
  const std::size_t line_end = postscript.find('\n', comment + 1);
  const std::size_t options = postscript.find(kSafeMode, comment);
  if (options == std::string::npos || options > line_end) return;
  postscript.replace(options, kSafeMode.size(), " -dNOSAFER ");
}

// The result file: the job's PJL header, the stamped body, its trailer.
void WriteWatermarkedJob(const std::string& result_path, const WatermarkJob& job,
                         const std::string& body) {
  WriteResultFile(result_path, job.header + body + job.trailer);
}

// The PCL finish: the stamped PostScript at `stamped_path` becomes PCL XL,
// which is the result's body. Returns the conversion's result; a failed
// conversion leaves the intermediate files and no result.
bool FinishInPclXl(Stamping& stamping, const WatermarkJob& watermark_job,
                   const std::string& result_path, const std::string& stamped_path,
                   const std::string& prolog_path, const std::string& body_copy_path) {
  const std::string pcl_xl_path = WithSuffix(stamped_path, kPostScriptToPclXlSuffix);
  if (ConvertPs(stamping.settings, stamping.job,
                RunArguments(FolderOf(stamped_path),
                             {"-sDEVICE=pxlcolor", "-dDisplayResolution=300",
                              OutputFileArgument(pcl_xl_path), QuoteArgument(stamped_path)}),
                stamping.runs) == 0) {
    return false;
  }
  RemoveFile(prolog_path);
  RemoveFile(body_copy_path);
  std::string unused_header;
  std::string pcl_xl_body;
  std::string unused_trailer;
  if (SplitPjlJob(pcl_xl_path, unused_header, pcl_xl_body, unused_trailer) == 0) {
    pcl_xl_body = ReadFileBytes(pcl_xl_path).value_or(std::string());
  }
  WriteWatermarkedJob(result_path, watermark_job, pcl_xl_body);
  RemoveFile(stamped_path);
  RemoveFile(pcl_xl_path);
  return true;
}

}  // namespace

bool RunWatermark(const Settings& settings, const StagedJob& staged) {
  if (!settings.WMEnable) return false;
  const std::string& path = staged.path;
  if (path.empty()) return false;
  Stamping stamping{settings, staged, {}};
  std::optional<WatermarkJob> job = ReadWatermarkJob(path);
  if (!job) return false;
  if (job->is_pcl && !ConvertPclBodyToPostScript(stamping, &job->body)) return false;

  // The body goes to the stamping run as a file of its own.
  const std::string body_copy_path = WithSuffix(path, kCopySuffix);
  WriteResultFile(body_copy_path, job->body);
  PrivateFolder::ShareWithChildren(body_copy_path, false);
  std::string().swap(job->body);

  const std::optional<std::string> text = ReadWatermarkText(path);
  if (!text) return false;
  const std::string prolog_path = WithSuffix(path, kWatermarkPrologSuffix);
  WriteTextFile(prolog_path, BuildWatermarkProlog(settings, *text));
  PrivateFolder::ShareWithChildren(prolog_path, false);

  const std::string result_name =
      WithSuffix(ToNarrow(JobFileName(ToWide(path))), kWatermarkedSuffix);
  const std::string result_path = OutFolderA() + kPathSeparator + result_name;
  // The interpreter writes the stamped job in the private folder. Until a
  // run writes it, it stands for the text the result then holds: the name
  // it was known by in out/.
  const std::string copy_suffix(kCopySuffix);
  const std::string stamped_path = FolderOf(path) + kPathSeparator + result_name + copy_suffix;
  const std::string stamped_stand_in = result_path + copy_suffix;
  // It holds its own name until a successful run replaces it.
  WriteTextFile(result_path, result_path);

  // The prolog comes first, so its end-of-page procedure is in force before
  // the job's first page.
  const bool stamped =
      ConvertPs(settings, staged,
                RunArguments(FolderOf(path),
                             {"-sDEVICE=ps2write", "-sFONTDIR=" + QuoteArgument(SystemFontFolder()),
                              OutputFileArgument(stamped_path), QuoteArgument(prolog_path),
                              QuoteArgument(body_copy_path)}),
                stamping.runs) != 0;
  // What a run that never opened its output leaves in its place.
  if (!PathExists(stamped_path)) WriteTextFile(stamped_path, stamped_stand_in);

  if (job->finishes_in_postscript) {
    // The result is assembled even when the stamping run failed; the marker
    // then reports the error.
    RemoveFile(prolog_path);
    RemoveFile(body_copy_path);
    std::string stamped_body = ReadFileBytes(stamped_path).value_or(std::string());
    RestoreInvocationComment(stamped_body);
    WriteWatermarkedJob(result_path, *job, stamped_body);
    RemoveFile(stamped_path);
    return stamped;
  }
  if (!stamped) return false;
  return FinishInPclXl(stamping, *job, result_path, stamped_path, prolog_path, body_copy_path);
}

}  // namespace quillaro

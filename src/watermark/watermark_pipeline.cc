// The watermark pipeline: takes a PJL-wrapped job apart, stamps its body with
// the watermark prolog through a PostScript interpreter run (a PCL body is
// turned into PostScript first and into PCL XL afterwards), and puts the job
// back together in out/ with its own PJL header and trailer.

#include <array>
#include <cstddef>
#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "config/job.h"
#include "config/path_utils.h"
#include "config/text_utils.h"
#include "inspect/language_detection.h"
#include "inspect/pjl_header.h"
#include "interp/interpreter_runs.h"
#include "interp/page_file_pattern.h"
#include "platform/file_system.h"
#include "platform/module_path.h"

namespace quillaro {
namespace {

// Font folder handed to the stamping run.
constexpr char kSystemFontFolder[] = "/usr/share/fonts";

// Only this much of the side file's first line is read: the prolog has room
// for less, and a side file without line ends must not be read whole.
constexpr std::size_t kMaxWatermarkTextBytes = 4095;

// Entry 0 of every argument list: a program-name slot that is never passed.
constexpr char kProgramNameSlot[] = "ps2pdf";

// Keeps the argument strings of one run alive and points the job's Argv at
// them; the run must end before the list is destroyed.
template <std::size_t N>
class ArgumentList {
 public:
  explicit ArgumentList(std::array<std::string, N> arguments) : arguments_(std::move(arguments)) {
    static_assert(N <= static_cast<std::size_t>(kJobArgvCapacity));
  }
  ArgumentList(const ArgumentList&) = delete;
  ArgumentList& operator=(const ArgumentList&) = delete;

  void FillInto(Job& job) const {
    for (std::size_t i = 0; i < N; ++i) job.Argv[i] = arguments_[i].c_str();
    job.Argc = static_cast<int32_t>(N);
  }

 private:
  std::array<std::string, N> arguments_;
};

// "-sOutputFile=" for `path`: the interpreters read the name as a page
// pattern, so a "%" in a job's name is doubled to stand for itself.
std::string OutputFileArgument(const std::string& path) {
  return "-sOutputFile=" + QuoteArgument(EscapePagePattern(path));
}

// The first line of a text file as a Windows text-mode stream reads it: CR LF
// reads as LF, byte 0x1A ends the data, the line end is not part of the line.
// At most `max_bytes` bytes of the line are kept. Empty optional when the
// file cannot be opened.
std::optional<std::string> ReadFirstLine(const std::string& path, std::size_t max_bytes) {
  // The side file may be a link dropped into in/: it is never followed.
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(OpenRegularFileForReading(path),
                                                       &std::fclose);
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

// Writes an intermediate file into in/, where anyone who drops jobs may have
// planted a link or a hard link under its name: the old entry is replaced by
// a new file, never written through. A file that cannot be made is skipped.
void WriteIntermediateFile(const std::string& path, std::string bytes, bool text_mode) {
  if (text_mode) ReplaceAll(bytes, "\n", "\r\n");
  WriteNewFile(path, bytes);
}

// Writes `bytes` to `path`, creating or truncating it; a file that cannot be
// opened is skipped.
void WriteBinaryFile(const std::string& path, const std::string& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (file) file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Writes `text` as a Windows text-mode stream does: every LF stored as CR LF.
void WriteTextFile(const std::string& path, std::string text) {
  ReplaceAll(text, "\n", "\r\n");
  WriteBinaryFile(path, text);
}

// The result file: `header`, then `body_path`'s bytes (or `body` when given),
// then `trailer`. A result file that cannot be opened is skipped.
void WriteResult(const std::string& result_path, const std::string& header,
                 const std::string* body, const std::string& body_path,
                 const std::string& trailer) {
  std::ofstream result(result_path, std::ios::binary | std::ios::trunc);
  if (!result) return;
  result.write(header.data(), static_cast<std::streamsize>(header.size()));
  if (body != nullptr) {
    result.write(body->data(), static_cast<std::streamsize>(body->size()));
  } else {
    std::ifstream stamped(body_path, std::ios::binary);
    // Copying an empty stream sets failbit on the result; clear it so the
    // trailer is still written.
    if (stamped && stamped.peek() != std::ifstream::traits_type::eof()) result << stamped.rdbuf();
    result.clear();
  }
  result.write(trailer.data(), static_cast<std::streamsize>(trailer.size()));
}

bool ContainsText(const std::string& text, const char* part) {
  return text.find(part) != std::string::npos;
}

}  // namespace

int Job::RunWatermark(std::u16string job_path) {
  if (Loaded == 0) LoadSettings();
  if (!WMEnable) return 0;

  FilePathA = ToNarrow(job_path);
  const std::string& job = FilePathA;
  if (job.empty()) return 0;

  const bool is_postscript_or_pdf = IsPostScript(job) != 0 || IsPdf(job) != 0;
  const bool is_pcl = IsPcl(job) != 0 || IsPclXl(job) != 0;
  if (!is_postscript_or_pdf && !is_pcl) return 0;

  std::string header;
  std::string body;
  std::string trailer;
  if (SplitPjlJob(job, header, body, trailer) == 0) return 0;

  if (is_pcl) {
    // The PCL interpreter turns the whole job into PostScript for stamping.
    const std::string postscript_path = job + ".pcl_2_ps";
    const ArgumentList<8> to_postscript({kProgramNameSlot, "-dBATCH", "-dNOPAUSE", "-dNOSAFER",
                                         "-sDEVICE=ps2write", "-dDisplayResolution=300",
                                         OutputFileArgument(postscript_path),
                                         QuoteArgument(job)});
    to_postscript.FillInto(*this);
    // The interpreter makes the file anew rather than writing through
    // whatever was dropped under that name.
    RemoveFile(postscript_path);
    if (ConvertPcl() == 0) return 0;
    std::string unused_header;
    std::string postscript_body;
    std::string unused_trailer;
    if (SplitPjlJob(postscript_path, unused_header, postscript_body, unused_trailer) != 0) {
      body = std::move(postscript_body);
    } else {
      std::unique_ptr<std::FILE, int (*)(std::FILE*)> postscript(
          OpenRegularFileForReading(postscript_path), &std::fclose);
      body.clear();
      char block[65536];
      std::size_t got;
      while (postscript && (got = std::fread(block, 1, sizeof block, postscript.get())) > 0) {
        body.append(block, got);
      }
    }
    RemoveFile(postscript_path);
  }

  const std::string body_copy_path = job + ".copy";
  WriteIntermediateFile(body_copy_path, std::move(body), false);
  body.clear();
  body.shrink_to_fit();

  const std::u16string text_path = job_path + u"_watermark.txt";
  if (!FileExists(text_path)) return 0;
  const std::optional<std::string> text = ReadFirstLine(ToNarrow(text_path), kMaxWatermarkTextBytes);
  if (!text || text->empty()) return 0;

  const std::string prolog_path = ToNarrow(job_path + u"_watermark.code");
  WriteIntermediateFile(prolog_path, BuildWatermarkProlog(*text), true);

  const std::string result_path =
      OutFolderA() + kPathSeparator + ToNarrow(JobFileName(job_path)) + ".watermarked";
  const std::string stamped_path = result_path + ".copy";
  // Each holds its own name until a successful run replaces it.
  WriteTextFile(result_path, result_path);
  WriteTextFile(stamped_path, stamped_path);
  OutputFile = stamped_path;
  // The prolog comes first, so its end-of-page procedure is in force before
  // the job's first page.
  const ArgumentList<9> stamp({kProgramNameSlot, "-dBATCH", "-dNOPAUSE", "-dNOSAFER",
                               "-sDEVICE=ps2write",
                               "-sFONTDIR=" + QuoteArgument(kSystemFontFolder),
                               OutputFileArgument(stamped_path), QuoteArgument(prolog_path),
                               QuoteArgument(body_copy_path)});
  stamp.FillInto(*this);

  const std::string language = HasUel(job) != 0 ? GetPjlLanguage(job) : std::string();
  bool postscript_finish = false;
  if (!language.empty() && (ContainsText(language, "POSTSCRIPT") || ContainsText(language, "PDF"))) {
    postscript_finish = true;
  } else if (IsPostScript(job) != 0 || IsPdf(job) != 0) {
    postscript_finish = true;
  } else if (IsPcl(job) == 0 && IsPclXl(job) == 0) {
    return 0;
  }

  if (postscript_finish) {
    // The result is assembled even when the stamping run failed; the marker
    // then reports the error.
    const int stamped = ConvertPs();
    RemoveFile(prolog_path);
    RemoveFile(body_copy_path);
    WriteResult(result_path, header, nullptr, stamped_path, trailer);
    RemoveFile(stamped_path);
    return stamped;
  }

  if (ConvertPs() == 0) return 0;
  const std::string pcl_xl_path = result_path + ".ps_2_pcl";
  const ArgumentList<8> to_pcl_xl({kProgramNameSlot, "-dBATCH", "-dNOPAUSE", "-dNOSAFER",
                                   "-sDEVICE=pxlcolor", "-dDisplayResolution=300",
                                   OutputFileArgument(pcl_xl_path), QuoteArgument(OutputFile)});
  to_pcl_xl.FillInto(*this);
  const int converted = ConvertPs();
  if (converted == 0) return 0;
  RemoveFile(prolog_path);
  RemoveFile(body_copy_path);
  std::string unused_header;
  std::string pcl_xl_body;
  std::string unused_trailer;
  if (SplitPjlJob(pcl_xl_path, unused_header, pcl_xl_body, unused_trailer) != 0) {
    WriteResult(result_path, header, &pcl_xl_body, pcl_xl_path, trailer);
  } else {
    WriteResult(result_path, header, nullptr, pcl_xl_path, trailer);
  }
  RemoveFile(stamped_path);
  RemoveFile(pcl_xl_path);
  return converted;
}

}  // namespace quillaro

#include <array>
#include <string>

#include "config/job.h"
#include "config/path_utils.h"
#include "config/text_utils.h"
#include "interp/interpreter_runs.h"
#include "interp/page_file_pattern.h"

namespace quillaro {
namespace {

// Argv points into strings of the stage that filled it; once those are gone
// the entries must not be left pointing at them.
class ArgvScope {
 public:
  explicit ArgvScope(Job& job) : job_(job) {}
  ArgvScope(const ArgvScope&) = delete;
  ArgvScope& operator=(const ArgvScope&) = delete;
  ~ArgvScope() {
    for (const char*& entry : job_.Argv) entry = nullptr;
    job_.Argc = 0;
  }

 private:
  Job& job_;
};

}  // namespace

int Job::RenderPages(std::u16string job_path) {
  if (Loaded == 0) LoadSettings();
  if (!IsConvert) return 1;
  FilePathA = ToNarrow(job_path);
  if (FilePathA.empty()) return 0;

  // The interpreter reads the output name as a pattern in which "%d" is the
  // page number and "%%" a literal "%". A "%" in the folder or the job's name
  // is therefore doubled, so that only the page placeholder acts as one;
  // OutputFile keeps this escaped pattern, and the stages that look for the
  // page files expand it with PageFileName exactly as the interpreter did.
  //
  // The page files are internal: the imaging stages read them and delete
  // them. Uncompressed raster has the same pixels as PNG and costs the
  // interpreter a fraction of the time (compression is most of a PNG run),
  // and reading it back needs no decoding. All three interpreters have the
  // device.
  OutputFile = EscapePagePattern(OutFolderA() + "/" + ToNarrow(JobFileStem(job_path))) + "_%d" +
               std::string(PngPageFiles ? kPngPageSuffix : kRasterPageSuffix);

  const std::array<std::string, 10> arguments = {
      "ps2pdf",
      "-dNOPAUSE",
      "-dBATCH",
      "-dSAFER",
      "-r100x100",
      PngPageFiles ? "-sDEVICE=png16m" : "-sDEVICE=ppmraw",
      "-sOutputFile=" + QuoteArgument(OutputFile),
      "-dFirstPage=1",
      Type == 2 ? std::string("-dLastPage=499") : "-dLastPage=" + FormatIntA(PagesMaxCount),
      QuoteArgument(FilePathA),
  };
  ArgvScope argv_scope(*this);
  Argc = 0;
  for (const std::string& argument : arguments) Argv[Argc++] = argument.c_str();

  if (const std::optional<Interpreter> chosen = ChooseInterpreter(FilePathA)) {
    switch (*chosen) {
      case Interpreter::kPs:
        return ConvertPs();
      case Interpreter::kPcl:
        return ConvertPcl();
      case Interpreter::kXps:
        return ConvertXps();
    }
  }
  // Nothing identifies the job: each interpreter in turn, until one renders.
  if (ConvertPs() != 0) return 1;
  if (ConvertPcl() != 0) return 1;
  return ConvertXps() != 0 ? 1 : 0;
}

}  // namespace quillaro

#include <string>

#include "config/job.h"
#include "config/path_utils.h"
#include "config/text_utils.h"
#include "interp/interpreter_runs.h"
#include "interp/job_body.h"
#include "platform/file_system.h"
#include "interp/page_file_pattern.h"
#include "platform/module_path.h"

namespace quillaro {

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
  //
  // They are written beside the job file, in its private folder: the one
  // folder its interpreter runs may write in.
  OutputFile = EscapePagePattern(FolderOf(FilePathA) + kPathSeparator +
                                 ToNarrow(JobFileStem(job_path))) +
               "_%d" + std::string(PngPageFiles ? kPngPageSuffix : kRasterPageSuffix);

  BodyPathA.clear();
  auto render = [this](const std::string& input) {
    const ScopedJobArguments arguments(*this, {
        "ps2pdf",
        "-dNOPAUSE",
        "-dBATCH",
        "-dSAFER",
        "-r100x100",
        PngPageFiles ? "-sDEVICE=png16m" : "-sDEVICE=ppmraw",
        "-sOutputFile=" + QuoteArgument(OutputFile),
        "-dFirstPage=1",
        Type == 2 ? std::string("-dLastPage=499") : "-dLastPage=" + FormatIntA(PagesMaxCount),
        QuoteArgument(input),
    });
    return RunWithChosenInterpreter(input, [this](Interpreter interpreter) {
      switch (interpreter) {
        case Interpreter::kPs:
          return ConvertPs();
        case Interpreter::kPcl:
          return ConvertPcl();
        case Interpreter::kXps:
          return ConvertXps();
      }
      return 0;
    });
  };
  if (render(FilePathA) != 0) return 1;
  // No interpreter read the whole job: a PJL-wrapped one is read again
  // without its PJL layer, as the printer's language interpreter reads it.
  const std::optional<std::string> body = WritePjlJobBody(FilePathA, ".rendered-body");
  if (!body) return 0;
  BodyPathA = *body;
  const int result = render(BodyPathA);
  RemoveFile(BodyPathA);
  BodyPathA.clear();
  return result;
}

}  // namespace quillaro

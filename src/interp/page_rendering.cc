#include "interp/page_rendering.h"

#include <optional>
#include <string>
#include <vector>

#include "config/path_utils.h"
#include "config/text_utils.h"
#include "interp/interpreter_runs.h"
#include "interp/job_body.h"
#include "interp/page_file_pattern.h"
#include "platform/file_system.h"
#include "platform/module_path.h"

namespace quillaro {

RenderedPages RenderPages(const Settings& settings, const StagedJob& job, PageFiles files) {
  RenderedPages result;
  if (!settings.IsConvert) {
    result.ok = true;
    return result;
  }
  if (job.path.empty()) return result;
  const bool png = files == PageFiles::kPng;

  // The interpreter reads the output name as a pattern in which "%d" is the
  // page number and "%%" a literal "%". A "%" in the folder or the job's name
  // is therefore doubled, so that only the page placeholder acts as one;
  // the stages that look for the page files expand the pattern with
  // PageFileName exactly as the interpreter did.
  //
  // The page files are internal: the imaging stages read them and delete
  // them. Uncompressed raster has the same pixels as PNG and costs the
  // interpreter a fraction of the time (compression is most of a PNG run),
  // and reading it back needs no decoding. All three interpreters have the
  // device.
  //
  // They are written beside the job file, in its private folder: the one
  // folder its interpreter runs may write in.
  result.pattern = EscapePagePattern(FolderOf(job.path) + kPathSeparator +
                                     ToNarrow(JobFileStem(ToWide(job.path)))) +
                   "_%d" + std::string(png ? kPngPageSuffix : kRasterPageSuffix);

  auto render = [&](const std::string& input) {
    const std::vector<std::string> arguments = {
        "-dNOPAUSE",
        "-dBATCH",
        "-dSAFER",
        "-r100x100",
        png ? "-sDEVICE=png16m" : "-sDEVICE=ppmraw",
        "-sOutputFile=" + QuoteArgument(result.pattern),
        "-dFirstPage=1",
        "-dLastPage=" + FormatIntA(settings.Type == 2 ? kMaxExaminedPages : settings.PagesMaxCount),
        QuoteArgument(input),
    };
    return RunWithChosenInterpreter(input, [&](Interpreter interpreter) {
      return Convert(interpreter, settings, job, arguments, result.note);
    });
  };
  result.ok = RunOnJobOrItsBody(job.path, ".rendered-body", render) != 0;
  return result;
}

}  // namespace quillaro

#ifndef QUILLARO_REPORT_JOB_LANGUAGE_H_
#define QUILLARO_REPORT_JOB_LANGUAGE_H_

#include <optional>
#include <string>

namespace quillaro {

// How a job's language was told.
enum class LanguageSource {
  kPjl,       // its "@PJL ENTER LANGUAGE" line
  kContent,   // a content test on its first bytes and lines
  kFallback,  // nothing told it: the interpreters were tried in turn
};

struct JobLanguage {
  // "PCL", "PCLXL", "PS", "PDF" or "XPS"; none when nothing tells it.
  std::optional<std::string> language;
  LanguageSource source = LanguageSource::kFallback;
};

// The language of the job file at `path` (narrow), told the way the stages
// choose their interpreter (ChooseInterpreter): the PJL language first, then
// the content tests. For a job that neither tells, `fallback_interpreter`
// is the interpreter that succeeded ("gs", "gpcl6", "gxps", or empty for
// none) and names the language: PS, PCL or XPS.
JobLanguage TellJobLanguage(const std::string& path, const std::string& fallback_interpreter);

// "pjl", "content" or "fallback".
const char* LanguageSourceName(LanguageSource source);

}  // namespace quillaro

#endif  // QUILLARO_REPORT_JOB_LANGUAGE_H_

#include "report/job_language.h"

#include "inspect/language_detection.h"

namespace quillaro {

JobLanguage TellJobLanguage(const std::string& path, const std::string& fallback_interpreter) {
  JobLanguage told;
  if (HasUel(path) != 0) {
    // The same precedence as the interpreter choice; PCL XL is the one PCL
    // value that names another language of the same interpreter.
    const std::string value = GetPjlLanguage(path);
    told.source = LanguageSource::kPjl;
    if (value.find("POSTSCRIPT") != std::string::npos) {
      told.language = "PS";
    } else if (value.find("PDF") != std::string::npos) {
      told.language = "PDF";
    } else if (value.find("PCLXL") != std::string::npos) {
      told.language = "PCLXL";
    } else if (value.find("PCL") != std::string::npos) {
      told.language = "PCL";
    } else if (value.find("XPS") != std::string::npos) {
      told.language = "XPS";
    }
    if (told.language) return told;
  }
  told.source = LanguageSource::kContent;
  if (IsPostScript(path) != 0) {
    told.language = "PS";
  } else if (IsPdf(path) != 0) {
    told.language = "PDF";
  } else if (IsPclXl(path) != 0) {
    told.language = "PCLXL";
  } else if (IsPcl(path) != 0) {
    told.language = "PCL";
  } else if (IsXps(path) != 0) {
    told.language = "XPS";
  }
  if (told.language) return told;
  told.source = LanguageSource::kFallback;
  if (fallback_interpreter == "gs") told.language = "PS";
  if (fallback_interpreter == "gpcl6") told.language = "PCL";
  if (fallback_interpreter == "gxps") told.language = "XPS";
  return told;
}

const char* LanguageSourceName(LanguageSource source) {
  switch (source) {
    case LanguageSource::kPjl:
      return "pjl";
    case LanguageSource::kContent:
      return "content";
    case LanguageSource::kFallback:
      break;
  }
  return "fallback";
}

}  // namespace quillaro

#ifndef QUILLARO_REPORT_JOB_FILE_FACTS_H_
#define QUILLARO_REPORT_JOB_FILE_FACTS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "report/job_language.h"
#include "report/pjl_attributes.h"
#include "report/print_intent.h"

namespace quillaro {

// A job attribute and where it was found: "pjl_username", "pjl_jobattr",
// "dsc_for", "pjl_job_name", "pjl_jobname", "dsc_title", "pdf_title".
struct SourcedText {
  std::string value;
  const char* source = "";
};

// The duplex and copies of one page, where a job changes them between pages.
struct PageSettings {
  DuplexMode duplex = DuplexMode::kSimplex;
  int32_t copies = 1;  // of this page, PJL QTY not counted
  bool operator==(const PageSettings&) const = default;
};

// What the report learns from the job file itself: who sent it, what it is
// called, how many copies and how it is to be printed, each with where it
// came from. Read once from the job's private copy (the bytes the
// interpreters read), before that copy goes.
struct JobFileFacts {
  bool read = false;   // false: the job was never read; everything else is unset
  std::string job_id;  // SHA-256 of the job file, lower-case hex
  JobLanguage language;
  PjlAttributes pjl;
  std::optional<SourcedText> user;
  std::optional<SourcedText> job_name;
  std::optional<SourcedText> title;
  // Copies of the whole job: PJL QTY (collated), times the copies of each
  // page the job asks for itself (PostScript, PCL, PCL XL) or, when it
  // does not, PJL COPIES (uncollated).
  int32_t job_copies = 1;
  int32_t page_copies = 1;
  // True when the page copies come from the page description itself: the
  // interpreters then render each page that many times.
  bool page_copies_rendered = false;
  std::string copies_source = "default";  // "pjl_qty", "postscript", "pjl_qty+pcl", ...
  DuplexMode duplex = DuplexMode::kSimplex;
  std::string duplex_source = "default";  // "pjl", "postscript", "pcl", "pclxl"
  // The driver's colour request: the page description's own, else PJL
  // RENDERMODE, else PJL GRAYSCALE.
  ColourMode colour_mode = ColourMode::kAuto;
  std::string colour_mode_source = "default";  // "postscript", "pjl_rendermode", "pjl_grayscale"
  // Each page's duplex and copies, in page order, when the page description
  // changes them between pages (a page without a request of its own has
  // the PJL default); empty when every page has duplex and page_copies.
  // Found by the scan's reckoning of pages: it holds only when as many as
  // the interpreter counted.
  std::vector<PageSettings> pages;

  int32_t copies() const { return job_copies * page_copies; }
};

// The facts of the job file at `path` (narrow). `fallback_interpreter` names
// the interpreter that read a job no test tells the language of ("gs",
// "gpcl6", "gxps", or empty), as for TellJobLanguage. The whole file is read
// once for its digest; only its first 16 MiB and last 1 MiB are searched.
// A file that cannot be opened gives facts with `read` false.
JobFileFacts ReadJobFileFacts(const std::string& path, const std::string& fallback_interpreter);

}  // namespace quillaro

#endif  // QUILLARO_REPORT_JOB_FILE_FACTS_H_

#ifndef QUILLARO_TESTS_SUPPORT_CORPUS_H_
#define QUILLARO_TESTS_SUPPORT_CORPUS_H_

#include <string>
#include <vector>

namespace quillaro::testing {

// A corpus of real print jobs, made by gs from the small PostScript programs in tests/data/corpus/
// (document.ps: 3 A4 pages or 2 Letter pages, each with a black frame 1 pt inside the sheet and,
// for Letter, a red block; colour_page.ps: pure C, M, Y and K blocks; blank_page.ps) and from PJL
// headers written here byte for byte (see corpus.cc). Generated once per test-program run, on
// first use, into a temporary folder removed when the program ends (about 1 MB, under two
// seconds), by the `gs` beside the test program; when that fails, the calling test fails with the
// command and its output.
//
// The jobs are listed by CorpusEntries. Bare: PostScript (ps2write), PDF (pdfwrite), PCL 5 from
// ljet4 at 300 dpi (with its leading ESC E, which no content test recognises, and without it) and
// from cljet5 at 150 dpi (without it), PCL XL from pxlcolor (gs writes its own PJL header: ENTER
// LANGUAGE = PCLXL), XPS from xpswrite. Wrapped in PJL: the PostScript (LF, QTY=2), the cljet5
// output with ESC E (CR LF, "PAPER=letter", "QTY = 3", "LANGUAGE = PCL"), the Letter PDF, the
// ljet4 output without closing UEL ("PAPER = A4", which names no paper) and the XPS.
// A bounding box of a PDF or PostScript page comes out just below the sheet (A4: 593 x 840 pt,
// Letter: 610 x 790 pt); raster formats (PCL 5, PCL XL) lose the printer margins.

enum class CorpusLanguage { kPostScript, kPdf, kPcl, kPclXl, kXps };

struct CorpusEntry {
  std::string name;          // file name, as in the table above
  CorpusLanguage language;   // of the page data
  int pages;                 // pages of the document (copies not counted)
  std::string paper;         // "A4" or "Letter"
  std::string pjl_paper;     // GetPjlPaper's answer, "" without one
  int copies;                // GetPjlCopies's answer
  bool blank;                // has no marks at all
};

// Every job of the corpus, in the order of the table above.
const std::vector<CorpusEntry>& CorpusEntries();

// The report corpus, made in the same run from report_pages.ps (six pages of six sheets, each
// with what a colour verdict must tell apart; see that file): the PostScript itself
// (report.ps), PDF from pdfwrite with its images JPEG-compressed (report.pdf), PCL XL from
// pxlcolor (report.pxl: the A3 landscape page comes out as a portrait sheet) and XPS from
// xpswrite (report.xps: it leaves the blank page out), and the PDF behind a PJL header with job
// name "Quarterly report", user name "alice", DUPLEX=ON, QTY=2, RESOLUTION=600
// (report_pjl.prn); and a PostScript job that fails (report_broken.ps).
const std::vector<std::string>& ReportCorpusJobs();

// Full path of the corpus or report-corpus job `name`, generating the corpus on first use.
// Empty (and the current test failed) when the corpus cannot be made or
// `name` is not a corpus job.
std::string CorpusPath(const std::string& name);

}  // namespace quillaro::testing

#endif  // QUILLARO_TESTS_SUPPORT_CORPUS_H_

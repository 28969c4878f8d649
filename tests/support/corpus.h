#ifndef QUILLARO_TESTS_SUPPORT_CORPUS_H_
#define QUILLARO_TESTS_SUPPORT_CORPUS_H_

#include <string>
#include <vector>

namespace quillaro::testing {

// A corpus of real print jobs, made by the interpreters themselves from the
// small PostScript programs in tests/data/corpus/ (document.ps, colour_page.ps,
// blank_page.ps) and from byte-exact PJL headers written here. It is generated
// once per test-program run, on first use, into a temporary folder that is
// removed when the program ends (about 1 MB, under two seconds). Generation
// runs the `gs` beside the test program; when it fails, the calling test fails
// with the command and its output, and the paths returned are empty.
//
// The jobs (pages / paper / copies as GetPjlCopies reads them):
//
//  name                       language   pages paper   copies  made by / notes
//  a4_3pages.ps               PostScript 3     A4      1       ps2write; gray marks only
//  a4_3pages.pdf              PDF        3     A4      1       pdfwrite; gray marks only
//  letter_2pages.pdf          PDF        2     Letter  1       pdfwrite; red block per page
//  a4_3pages_reset.pcl        PCL 5      3     A4      1       ljet4, 300 dpi, mono; starts
//                                                              ESC E, so no content test
//                                                              says yes (interpreters tried)
//  a4_3pages.pcl              PCL 5      3     A4      1       the same without its leading
//                                                              ESC E: starts ESC "&"
//  letter_2pages_colour.pcl   PCL 5      2     Letter  1       cljet5, 150 dpi, colour,
//                                                              leading ESC E removed
//  letter_2pages.pxl          PCL XL     2     Letter  1       pxlcolor, 150 dpi; its own PJL
//                                                              header: ENTER LANGUAGE = PCLXL
//                                                              (value " PCLXL"), ends in UEL
//  a4_3pages.xps              XPS        3     A4      1       xpswrite (a ZIP archive)
//  colour_a4.pdf              PDF        1     A4      1       pdfwrite of colour_page.ps:
//                                                              200x200 pt blocks of pure
//                                                              C, M, Y and K (CMYK colours)
//  blank_a4.pdf               PDF        1     A4      1       pdfwrite of blank_page.ps
//  pjl_ps_a4_qty2.prn         PostScript 3     A4      2       PJL (LF) + a4_3pages.ps + trailer
//  pjl_pcl_letter_qty3.prn    PCL 5      2     Letter  3       PJL (CR LF) + cljet5 output with
//                                                              ESC E + trailer
//  pjl_pdf_letter.prn         PDF        2     Letter  1       PJL (LF) + letter_2pages.pdf +
//                                                              trailer
//  pjl_pcl_a4_notrailer.prn   PCL 5      3     A4      1       PJL (LF) + ljet4 output with
//                                                              ESC E, no closing UEL
//  pjl_xps_a4.prn             XPS        3     A4      1       PJL (LF) + a4_3pages.xps + trailer
//
// "Pages" and "paper" describe the document inside; every page of document.ps
// carries a black frame 1 point inside the sheet, so a bounding box of a PDF or
// PostScript page comes out just below the sheet (A4: 593 x 840 pt, Letter:
// 610 x 790 pt). Raster formats (PCL 5, PCL XL) lose the printer margins.
//
// PJL headers, byte for byte ("<UEL>" is ESC "%-12345X", "\n" LF, "\r\n" CR LF):
//  pjl_ps_a4_qty2.prn:      <UEL>@PJL JOB NAME="corpus"\n @PJL SET PAPER=A4\n
//                           @PJL SET QTY=2\n @PJL ENTER LANGUAGE=POSTSCRIPT\n
//                           trailer <UEL>@PJL EOJ\n<UEL>
//  pjl_pcl_letter_qty3.prn: <UEL>@PJL\r\n @PJL SET PAPER=letter\r\n @PJL SET QTY = 3\r\n
//                           @PJL ENTER LANGUAGE = PCL\r\n   trailer <UEL>
//  pjl_pdf_letter.prn:      <UEL>@PJL\n @PJL SET PAPER=LETTER\n @PJL ENTER LANGUAGE=pdf\n
//                           trailer <UEL>
//  pjl_pcl_a4_notrailer.prn: <UEL>@PJL\n @PJL SET PAPER = A4\n @PJL SET QTY=1\n
//                           @PJL ENTER LANGUAGE=PCL\n   no trailer
//  pjl_xps_a4.prn:          <UEL>@PJL\n @PJL ENTER LANGUAGE=XPS\n   trailer <UEL>
// (the blanks after "\n" above only separate the lines for reading).
// So GetPjlLanguage gives POSTSCRIPT, " PCL", PDF, PCL, XPS and, for the
// .pxl job, " PCLXL"; GetPjlPaper gives A4, LETTER, LETTER, " A4" (which
// names no paper) and "" ; the header ends with the LF of the language line.

enum class CorpusLanguage { kPostScript, kPdf, kPcl, kPclXl, kXps };

struct CorpusEntry {
  std::string name;          // file name, as in the table above
  CorpusLanguage language;   // of the page data
  int pages;                 // pages of the document (copies not counted)
  std::string paper;         // "A4" or "Letter"
  bool pjl;                  // the first line holds the UEL
  std::string pjl_language;  // GetPjlLanguage's answer, "" without one
  std::string pjl_paper;     // GetPjlPaper's answer, "" without one
  int copies;                // GetPjlCopies's answer
  bool has_trailer;          // a UEL follows the page data
  bool colour;               // has marks that are not gray
  bool blank;                // has no marks at all
};

// Every job of the corpus, in the order of the table above.
const std::vector<CorpusEntry>& CorpusEntries();

// Full path of the corpus job `name`, generating the corpus on first use.
// Empty (and the current test failed) when the corpus cannot be made or
// `name` is not a corpus job.
std::string CorpusPath(const std::string& name);

}  // namespace quillaro::testing

#endif  // QUILLARO_TESTS_SUPPORT_CORPUS_H_

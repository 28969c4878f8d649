#include "support/corpus.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "config/path_utils.h"
#include "config/text_utils.h"
#include "support/temp_dir.h"

namespace quillaro::testing {
namespace {

const std::string kUel = "\x1b%-12345X";

// The document of document.ps in its two forms.
const char kA4Document[] = "-dPageCount=3 -dPageWidth=595 -dPageHeight=842";
const char kLetterDocument[] = "-dPageCount=2 -dPageWidth=612 -dPageHeight=792 -dColour";

std::string Quoted(std::string text) {
  ReplaceAll(text, "'", "'\\''");
  return "'" + text + "'";
}

class Corpus {
 public:
  // A corpus made beforehand by bench/corpus.sh (the same jobs, less the report corpus) stands in
  // when QUILLARO_TEST_CORPUS names its folder: under Wine, whose gs has none of the writers the
  // corpus needs, and which cannot start the Linux one.
  Corpus() {
    const char* prepared = std::getenv("QUILLARO_TEST_CORPUS");
    if (prepared == nullptr || prepared[0] == '\0') {
      ok_ = Generate();
      return;
    }
    prepared_ = prepared;
    ok_ = std::filesystem::is_directory(prepared_);
    if (!ok_) error_ = "QUILLARO_TEST_CORPUS names no folder: " + prepared_.string();
  }
  bool ok() const { return ok_; }
  const std::string& error() const { return error_; }
  std::string Path(const std::string& name) const {
    return prepared_.empty() ? dir_.File(name) : (prepared_ / name).string();
  }

 private:
  bool Generate() {
    const std::filesystem::path beside = ToNarrow(GetModuleFolder());
    gs_ = std::filesystem::exists(beside / "gs") ? (beside / "gs").string() : "gs";
    const std::filesystem::path sources = QUILLARO_TEST_DATA_DIR "/corpus";
    const std::string document = (sources / "document.ps").string();
    const std::string colour = (sources / "colour_page.ps").string();
    const std::string blank = (sources / "blank_page.ps").string();
    const std::string report = (sources / "report_pages.ps").string();
    if (!RunGs("ps2write", "", kA4Document, document, "a4_3pages.ps") ||
        !RunGs("pdfwrite", "", kA4Document, document, "a4_3pages.pdf") ||
        !RunGs("pdfwrite", "", kLetterDocument, document, "letter_2pages.pdf") ||
        !RunGs("ljet4", "-r300", kA4Document, document, "a4_3pages_reset.pcl") ||
        !RunGs("cljet5", "-r150", kLetterDocument, document, "cljet5.raw") ||
        !RunGs("pxlcolor", "-r150", kLetterDocument, document, "letter_2pages.pxl") ||
        !RunGs("xpswrite", "", kA4Document, document, "a4_3pages.xps") ||
        !RunGs("pdfwrite", "", "", colour, "colour_a4.pdf") ||
        !RunGs("pdfwrite", "", "", blank, "blank_a4.pdf") ||
        !RunGs("pdfwrite", "-dAutoFilterColorImages=false -dColorImageFilter=/DCTEncode", "",
               report, "report.pdf") ||
        !RunGs("pxlcolor", "-r150", "", report, "report.pxl") ||
        !RunGs("xpswrite", "", "", report, "report.xps")) {
      return false;
    }
    const std::string ljet4 = ReadFileBytes(Path("a4_3pages_reset.pcl"));
    const std::string cljet5 = ReadFileBytes(Path("cljet5.raw"));
    std::filesystem::remove(Path("cljet5.raw"));
    if (!ljet4.starts_with("\033E") || !cljet5.starts_with("\033E")) {
      error_ = "the PCL devices no longer start their output with ESC E";
      return false;
    }
    WriteFileBytes(Path("a4_3pages.pcl"), ljet4.substr(2));
    WriteFileBytes(Path("letter_2pages_colour.pcl"), cljet5.substr(2));

    WriteFileBytes(Path("pjl_ps_a4_qty2.prn"),
                   kUel +
                       "@PJL JOB NAME=\"corpus\"\n@PJL SET PAPER=A4\n@PJL SET QTY=2\n"
                       "@PJL ENTER LANGUAGE=POSTSCRIPT\n" +
                       ReadFileBytes(Path("a4_3pages.ps")) + kUel + "@PJL EOJ\n" + kUel);
    WriteFileBytes(Path("pjl_pcl_letter_qty3.prn"),
                   kUel +
                       "@PJL\r\n@PJL SET PAPER=letter\r\n@PJL SET QTY = 3\r\n"
                       "@PJL ENTER LANGUAGE = PCL\r\n" +
                       cljet5 + kUel);
    WriteFileBytes(Path("pjl_pdf_letter.prn"),
                   kUel + "@PJL\n@PJL SET PAPER=LETTER\n@PJL ENTER LANGUAGE=pdf\n" +
                       ReadFileBytes(Path("letter_2pages.pdf")) + kUel);
    WriteFileBytes(
        Path("pjl_pcl_a4_notrailer.prn"),
        kUel + "@PJL\n@PJL SET PAPER = A4\n@PJL SET QTY=1\n@PJL ENTER LANGUAGE=PCL\n" + ljet4);
    WriteFileBytes(Path("pjl_xps_a4.prn"), kUel + "@PJL\n@PJL ENTER LANGUAGE=XPS\n" +
                                               ReadFileBytes(Path("a4_3pages.xps")) + kUel);
    std::filesystem::copy_file(report, Path("report.ps"));
    WriteFileBytes(Path("report_pjl.prn"),
                   kUel +
                       "@PJL JOB NAME = \"Quarterly report\"\r\n@PJL SET USERNAME=alice\r\n"
                       "@PJL SET DUPLEX=ON\r\n@PJL SET QTY=2\r\n@PJL SET RESOLUTION=600\r\n"
                       "@PJL ENTER LANGUAGE=PDF\r\n" +
                       ReadFileBytes(Path("report.pdf")) + kUel);
    WriteFileBytes(Path("report_broken.ps"), "%!PS\n/no-such-operator-here load\n");
    for (const CorpusEntry& entry : CorpusEntries()) {
      if (ReadFileBytes(Path(entry.name)).empty()) error_ = "corpus job " + entry.name + " missing";
    }
    return error_.empty();
  }

  bool RunGs(const std::string& device, const std::string& options, const std::string& defines,
             const std::string& source, const std::string& output) {
    const std::string log = Path("gs.log");
    const std::string command = Quoted(gs_) + " -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=" + device +
                                " " + options + " " + defines + " -o " + Quoted(Path(output)) +
                                " " + Quoted(source) + " >" + Quoted(log) + " 2>&1";
    if (std::system(command.c_str()) == 0) return true;
    error_ = "corpus generation failed: " + command + "\n" + ReadFileBytes(log);
    return false;
  }

  TempDir dir_;
  std::filesystem::path prepared_;
  std::string gs_;
  bool ok_ = false;
  std::string error_;
};

}  // namespace

const std::vector<CorpusEntry>& CorpusEntries() {
  using L = CorpusLanguage;
  static const std::vector<CorpusEntry> entries = {
      // name, language, pages, paper, pjl_paper, copies, blank
      {"a4_3pages.ps", L::kPostScript, 3, "A4", "", 1, false},
      {"a4_3pages.pdf", L::kPdf, 3, "A4", "", 1, false},
      {"letter_2pages.pdf", L::kPdf, 2, "Letter", "", 1, false},
      {"a4_3pages_reset.pcl", L::kPcl, 3, "A4", "", 1, false},
      {"a4_3pages.pcl", L::kPcl, 3, "A4", "", 1, false},
      {"letter_2pages_colour.pcl", L::kPcl, 2, "Letter", "", 1, false},
      {"letter_2pages.pxl", L::kPclXl, 2, "Letter", "", 1, false},
      {"a4_3pages.xps", L::kXps, 3, "A4", "", 1, false},
      {"colour_a4.pdf", L::kPdf, 1, "A4", "", 1, false},
      {"blank_a4.pdf", L::kPdf, 1, "A4", "", 1, true},
      {"pjl_ps_a4_qty2.prn", L::kPostScript, 3, "A4", "A4", 2, false},
      {"pjl_pcl_letter_qty3.prn", L::kPcl, 2, "Letter", "LETTER", 3, false},
      {"pjl_pdf_letter.prn", L::kPdf, 2, "Letter", "LETTER", 1, false},
      {"pjl_pcl_a4_notrailer.prn", L::kPcl, 3, "A4", " A4", 1, false},
      {"pjl_xps_a4.prn", L::kXps, 3, "A4", "", 1, false},
  };
  return entries;
}

const std::vector<std::string>& ReportCorpusJobs() {
  static const std::vector<std::string> jobs = {"report.ps",  "report.pdf",     "report.pxl",
                                                "report.xps", "report_pjl.prn", "report_broken.ps"};
  return jobs;
}

std::string CorpusPath(const std::string& name) {
  static const Corpus corpus;
  if (!corpus.ok()) {
    ADD_FAILURE() << corpus.error();
    return {};
  }
  for (const CorpusEntry& entry : CorpusEntries()) {
    if (entry.name == name) return corpus.Path(name);
  }
  for (const std::string& job : ReportCorpusJobs()) {
    if (job == name) return corpus.Path(name);
  }
  ADD_FAILURE() << name << " is not a corpus job";
  return {};
}

}  // namespace quillaro::testing

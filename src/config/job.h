#ifndef QUILLARO_CONFIG_JOB_H_
#define QUILLARO_CONFIG_JOB_H_

#include <cstdint>
#include <functional>
#include <string>

#include "report/report_notes.h"

namespace quillaro {

// Most entries an interpreter argument list can hold.
inline constexpr int kJobArgvCapacity = 20;

// The working record of one job file: a snapshot of settings.ini taken when
// the record is built, plus the values the stages hand on to each other. One
// record per job worker (and one for the cleanup thread); a record belongs to
// the thread that built it and is never shared.
//
// Each stage is an operation of Job, defined beside its concern:
//   config/job_settings.cc        construction, LoadSettings
//   interp/interpreter_runs.cc    ConvertPcl, ConvertXps, ConvertPs
//   interp/page_measurement.cc    MeasurePages, CalculatePcl/Xps/Ps
//   interp/page_rendering.cc      RenderPages
//   imaging/image_output.cc       ConvertPageImages (with colour coverage)
//   imaging/completion_markers.cc WriteDoneMarker, WriteWatermarkMarker
//   report/media_probe.cc         ProbeMedia
//   report/report_file.cc         NoteJobFile, WriteReport
//   report/quarantine.cc          QuarantineFailedJob
//   watermark/watermark_prolog.cc BuildWatermarkProlog
//   watermark/watermark_pipeline.cc RunWatermark
// Stages return 1 for success and 0 for failure and never throw.
struct Job {
  // Builds the record and loads the settings at once (Loaded is 1 after).
  Job();

  // Reads every key of section Settings of settings.ini beside the executable
  // afresh, applies the defaults and corrections, and sets Loaded to 1.
  // Only the settings fields change.
  void LoadSettings();

  // --- Interpreter runs over Argv[1..Argc-1] ("-q" first, Argv[0] never
  // passed), time limit WaitSeconds; one log line each when IsLog.
  int ConvertPcl();
  int ConvertXps();
  int ConvertPs();

  // --- Page measurement: _pagescount.txt and _papersize.txt in out/.
  int MeasurePages(std::u16string job_path);
  int CalculatePcl();
  int CalculateXps();
  int CalculatePs();

  // --- Page rendering: out/STEM_n.ppm_ per page (uncompressed raster;
  // out/STEM_n.png_ when PngPageFiles), 24-bit, 100 dpi.
  int RenderPages(std::u16string job_path);

  // --- The rendered pages, each read once: their colour coverage into
  // ColorCoverageFile when Type > 1, and the images in the configured format
  // and size; the page files are removed. `await_earlier_results`, when
  // given, is called once before the first result file is written, so that
  // results of a stage running beside this one come first; the pages are
  // read and converted meanwhile.
  void ConvertPageImages(std::u16string job_path,
                         const std::function<void()>& await_earlier_results = nullptr);

  // --- The job report (IsReport): for a job whose pages are not rendered
  // (Type 0), one run that renders them as 1-bit pages at 100 dpi only to
  // learn their sheet sizes (into Report.probed_pages; the page files are
  // removed); then out/NAME_report.json from what the stages noted in
  // Report. Written after every other result and before the marker.
  void ProbeMedia(std::u16string job_path);
  // Reads what the job file itself says (who, what, copies, duplex, its
  // digest) into Report.job_file; called on the private copy, after the
  // stages, before the copy goes.
  void NoteJobFile(std::u16string job_path);
  void WriteReport(std::u16string job_path);

  // --- Quarantine (IsQuarantine): a job whose interpretation failed (no
  // interpreter counted its pages, or none rendered them) is moved from in/
  // to failed/ beside it, with failed/NAME.reason.txt saying why, as the
  // report does. Returns 1 when the job was moved; a job that did not fail,
  // or cannot be moved, stays where it is.
  int QuarantineFailedJob(std::u16string job_path);

  // --- Completion markers, the last file a job writes.
  void WriteDoneMarker(std::u16string job_path);
  void WriteWatermarkMarker(std::u16string job_path, int result);

  // --- Watermarking.
  std::string BuildWatermarkProlog(std::string text) const;
  int RunWatermark(std::u16string job_path);

  int32_t Loaded = 0;
  // Bare output path of the latest interpreter run; for page rendering the
  // page-file pattern with one "%d" for the page number.
  std::string OutputFile;
  // Argument vector of the run being prepared. The pointers refer to strings
  // the preparing stage keeps alive until the run has ended (a
  // ScopedJobArguments, which empties Argv when it goes); Job owns none.
  const char* Argv[kJobArgvCapacity] = {};
  int32_t Argc = 0;
  // Render the page files as PNG, as the service did before it used
  // uncompressed raster files. The results are the same either way; tests
  // use this to show that they are.
  bool PngPageFiles = false;
  // The job file the interpreters read: the job's private copy, in the
  // folder that is the only one its runs may write in.
  std::string FilePathA;
  // What the interpreters of the stage under way read: FilePathA, or the
  // job's body without its PJL header and trailer when they could not read
  // the whole job (a vendor's commands in the header, a PDF whose offsets
  // the header shifts); see ReadPathA().
  std::string BodyPathA;
  const std::string& ReadPathA() const { return BodyPathA.empty() ? FilePathA : BodyPathA; }
  // The job's path as log.txt names it (its place in in/), when that is not
  // FilePathA; see LoggedPath().
  std::string LogPathA;
  const std::string& LoggedPath() const { return LogPathA.empty() ? FilePathA : LogPathA; }
  std::string PagesCountFile;
  std::string ColorCoverageFile;
  std::string PaperSizeFile;
  // What the stages noted for the job report and the quarantine; see
  // ReportNotes for which stage writes what.
  ReportNotes Report;

  // Settings snapshot.
  bool IsConvert = false;
  int32_t Type = 0;
  int32_t ImageType = 0;
  int32_t PagesMaxCount = 0;
  int32_t Quality = 0;
  int32_t LongPixelLength = 0;
  int32_t DeleteSeconds = 0;
  // Jobs that may run their stages at once on the machine, 0 for one per
  // core; the service reads it once, for its first job.
  int32_t Parallel = 0;
  bool IsLog = false;
  // 1: write out/NAME_report.json for every converted job.
  bool IsReport = false;
  // The colour verdict's numbers (ReportChromaThreshold, ReportInkedBelow,
  // ReportMinColouredPixels, ReportNeighbourhoodRadius), each within the
  // bounds of page_verdict.h.
  ColourRule ReportColourRule;
  // 1: move jobs whose interpretation failed to failed/.
  bool IsQuarantine = false;
  int32_t WaitSeconds = 0;
  // The largest job read, in MiB (1 MiB = 1048576 bytes); a larger one is
  // refused with its marker and a failure.
  int32_t MaxJobMegabytes = 0;
  bool WMEnable = false;
  // 1: watermark jobs even where the kernel cannot confine the interpreter
  // runs (no Landlock); otherwise such jobs are refused.
  bool WMUnconfined = false;
  std::u16string WMGrayLevel;
  int32_t WMFontSize = 0;
  std::u16string WMFontType;
  int32_t WMBottomOffset = 0;
  int32_t WMLeftOffset = 0;
};

}  // namespace quillaro

#endif  // QUILLARO_CONFIG_JOB_H_

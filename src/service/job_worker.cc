#include "service/job_worker.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "config/job.h"
#include "config/log_file.h"
#include "config/path_utils.h"
#include "config/text_utils.h"
#include "platform/cancellation.h"
#include "platform/child_confinement.h"
#include "platform/file_system.h"
#include "platform/os_error.h"
#include "platform/private_folder.h"
#include "platform/module_path.h"
#include "platform/system_files.h"
#include "platform/thread.h"
#include "service/interpreter_lock.h"
#include "service/job_path_rules.h"
#include "service/job_stand_in.h"

namespace quillaro {
namespace {

// What became of the job the worker was dispatched for, once it has the
// lock: the job's own bytes are copied into a folder of its own, which the
// interpreter runs read and write instead of in/ and out/.
enum class Intake {
  kRead,     // copied into its private folder: the stages run
  kRefused,  // a link, a pipe or a file with a second name: its marker only
  kFailed,   // never read (vanished, too large, or the system refused): its
             // marker, and the reason in the journal and the report
};

// Takes the job at `path` into `folder` under `name`. Anyone who can drop a
// file into in/ could drop a symbolic link to a file elsewhere (or a hard
// link to one, which no path check can tell from the original), a pipe that
// blocks whoever opens it, or swap the job for one of these while it waits
// for the lock; so the job is opened once, here, without following links,
// and what was checked is what the stages read. A watermark job's text comes
// along the same way. On kFailed, `job.Report.refusal` says why.
Intake TakeJob(Job& job, PrivateFolder& folder, const std::u16string& path,
               const std::string& name, bool watermark) {
  const uint64_t max_bytes = static_cast<uint64_t>(job.MaxJobMegabytes) << 20;
  OsError error;
  const std::string job_path = ToNarrow(path);
  switch (folder.CopyIn(job_path, name, max_bytes, &error)) {
    case CopyInResult::kCopied:
      break;
    case CopyInResult::kRefused:
      return Intake::kRefused;
    case CopyInResult::kMissing:
      job.Report.refusal = "the job vanished before it was read";
      break;
    case CopyInResult::kTooLarge:
      job.Report.refusal = "the job is larger than MaxJobMegabytes (" +
                           std::to_string(job.MaxJobMegabytes) + " MiB)";
      break;
    case CopyInResult::kFailed:
      job.Report.refusal = "the job could not be read: " + error.ToString();
      break;
  }
  if (!job.Report.refusal.empty()) {
    ReportOsError(OsError{}, "job " + job_path + ": " + job.Report.refusal);
    return Intake::kFailed;
  }
  // No text, or one that cannot be taken, leaves the job without one: the
  // watermark route then fails as for a job without a text file.
  if (watermark) {
    folder.CopyIn(job_path + "_watermark.txt", name + "_watermark.txt", max_bytes, &error);
  }
  return Intake::kRead;
}

int32_t CoreCount() {
  static const int32_t cores =
      std::max<int32_t>(1, static_cast<int32_t>(std::thread::hardware_concurrency()));
  return cores;
}

bool MachineHasCoresToSpare() { return CoreCount() > 1; }

// How many jobs may run their stages at once, machine-wide: the Parallel
// setting of the first job this service handles (a change takes effect at
// the next start), 0 meaning one per core.
int32_t JobSlotCount(const Job& first_job) {
  static const int32_t slots = first_job.Parallel == 0 ? CoreCount() : first_job.Parallel;
  return slots;
}

// Page measurement and page rendering are independent interpreter runs over
// the same job file, so on a machine with a core to spare they run side by
// side: the measurement on a thread of its own, the rendering and the page
// images on the worker's thread. Everything a job leaves stays as it is when
// they run one after the other: the measurement has its own record (each
// stage writes its own hand-over fields), the rendering's log lines are held
// until the measurement has logged its own, and the colour coverage and the
// images are written only after the page count and paper names. A job that
// no content test knows tries gs first in both stages, and the two failed
// attempts cost one run's time instead of two.
void MeasureBesideRendering(Job& job, const std::u16string& path) {
  Job measuring = job;
  const ManualResetEvent* cancel = CurrentCancellation();
  Thread measurement;
  const bool started = measurement.Start(
      [&measuring, &path, cancel] {
        // A cancelled job kills this thread's interpreter too.
        std::optional<ScopedCancellation> cancellation;
        if (cancel != nullptr) cancellation.emplace(*cancel);
        measuring.MeasurePages(path);
      },
      ThreadPriority::kLowest);
  if (!started) measuring.MeasurePages(path);
  LogLineHold rendering_lines;
  bool measured = false;
  auto await_measurement = [&] {
    if (measured) return;
    measured = true;
    measurement.Join();
    rendering_lines.Release();
    job.PagesCountFile = measuring.PagesCountFile;
    job.ColorCoverageFile = measuring.ColorCoverageFile;
    job.PaperSizeFile = measuring.PaperSizeFile;
    job.Report.measurement = measuring.Report.measurement;
    job.Report.measured_pages = measuring.Report.measured_pages;
  };
  if (!CancellationRequested()) job.RenderPages(path);
  if (!CancellationRequested()) job.ConvertPageImages(path, await_measurement);
  await_measurement();
}

void WriteMarker(Job& job, const std::u16string& path, bool watermark) {
  if (watermark) {
    job.WriteWatermarkMarker(path, 0);
  } else {
    job.WriteDoneMarker(path);
  }
}

// Without Landlock nothing but the interpreter's own safe mode would stand
// between a watermark job and every file the service can reach, so such
// jobs are refused unless the settings accept the risk.
bool WatermarkRouteAllowed(const Job& job) {
  if (job.WMUnconfined || ChildFileAccessConfined()) return true;
  static std::once_flag said;
  std::call_once(said, [] {
    ReportOsError(OsError{}, std::string("watermark jobs are refused: ") +
                                 NoFileSystemSandboxReason() +
                                 " to confine their interpreter runs (WMUnconfined=1 allows them)");
  });
  return false;
}

void RunStages(Job& job, const std::u16string& path, bool watermark) {
  const JobStandIn stand_in(path);
  OsError error;
  std::unique_ptr<PrivateFolder> folder = PrivateFolder::Make(&error);
  if (!folder) {
    // Without a folder of its own the job is not run at all.
    ReportOsError(error, "cannot make a private folder for " + ToNarrow(path));
    job.Report.refusal = "the service could not make the job's private folder";
  }
  const std::string name = ToNarrow(JobFileName(stand_in.path()));
  job.Report.received = std::chrono::system_clock::now();
  const Intake intake = folder ? TakeJob(job, *folder, path, name, watermark) : Intake::kFailed;
  if (intake == Intake::kRefused || (watermark && !WatermarkRouteAllowed(job))) {
    WriteMarker(job, path, watermark);
    return;
  }
  if (intake == Intake::kFailed) {
    if (!watermark && job.IsConvert && job.IsReport) job.WriteReport(path);
    WriteMarker(job, path, watermark);
    return;
  }
  // A terminated worker stops between stages; the stage under way when the
  // cancel came has already had its child process killed.
  auto go_on = [] { return !CancellationRequested(); };
  int watermark_result = 0;
  {
    const std::u16string stages_path = ToWide(folder->path() + kPathSeparator + name);
    job.LogPathA = ToNarrow(stand_in.path());
    if (watermark) {
      watermark_result = job.RunWatermark(stages_path);
    } else if (job.IsConvert) {
      if (job.Type > 0 && MachineHasCoresToSpare()) {
        MeasureBesideRendering(job, stages_path);
      } else {
        job.MeasurePages(stages_path);
        if (job.Type > 0) {
          if (go_on()) job.RenderPages(stages_path);
          if (go_on()) job.ConvertPageImages(stages_path);
        }
      }
      // Pages that are not rendered: the report learns their sheets here.
      if (job.IsReport && job.Type <= 0 && go_on()) job.ProbeMedia(stages_path);
      // What the job file says, read from the bytes the interpreters read.
      if (job.IsReport && go_on()) job.NoteJobFile(stages_path);
    }
    folder.reset();
  }  // the results carry the job's own name from here on
  if (!go_on()) return;
  if (watermark) {
    job.WriteWatermarkMarker(path, watermark_result);
  } else {
    // After every other result, before the marker.
    if (job.IsConvert && job.IsReport) job.WriteReport(path);
    if (job.IsConvert && job.IsQuarantine) job.QuarantineFailedJob(path);
    job.WriteDoneMarker(path);
  }
}

}  // namespace

uint32_t RunJobWorker(WorkerSlot* slot) {
  if (slot == nullptr || slot->lock == nullptr) return 0;
  std::u16string path;
  const ManualResetEvent* stop = nullptr;
  const ManualResetEvent* cancel = nullptr;
  {
    std::lock_guard<std::mutex> lock(*slot->lock);
    path = slot->path;
    stop = slot->stop_event;
    cancel = slot->cancel_event;
  }
  if (IsOwnOutputPath(path)) return 0;
  const bool watermark = IsWatermarkPath(path);
  // A folder dropped into in/ is no job at all.
  if (GetEntryInfo(ToNarrow(path)).kind == EntryKind::kFolder) return 0;

  std::optional<ScopedCancellation> cancellation;
  if (cancel != nullptr) cancellation.emplace(*cancel);

  // Built outside the lock: loading the settings needs no serialising.
  Job job;
  InterpreterLock lock(kInterpreterLockSuffix, JobSlotCount(job), JobFileStem(path));
  if (lock.cancelled()) return 0;
  // A stop that came while this worker waited for the lock: leave the file
  // unprocessed. A later stop does not interrupt the stages.
  if (stop != nullptr && stop->IsSet()) return 0;
  RunStages(job, path, watermark);
  return 0;
}

}  // namespace quillaro

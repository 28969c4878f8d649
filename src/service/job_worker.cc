#include "service/job_worker.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "config/log_file.h"
#include "config/path_utils.h"
#include "config/result_names.h"
#include "config/settings.h"
#include "config/staged_job.h"
#include "config/text_utils.h"
#include "imaging/image_output.h"
#include "interp/media_probe.h"
#include "interp/page_measurement.h"
#include "interp/page_rendering.h"
#include "platform/cancellation.h"
#include "platform/child_confinement.h"
#include "platform/file_system.h"
#include "platform/module_path.h"
#include "platform/os_error.h"
#include "platform/private_folder.h"
#include "platform/system_files.h"
#include "platform/thread.h"
#include "report/report_file.h"
#include "report/report_notes.h"
#include "service/completion_markers.h"
#include "service/interpreter_lock.h"
#include "service/job_path_rules.h"
#include "service/job_stand_in.h"
#include "service/quarantine.h"
#include "watermark/watermark_pipeline.h"

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
// along the same way. On kFailed, `*refusal` says why.
Intake TakeJob(const Settings& settings, PrivateFolder& folder, const std::u16string& path,
               const std::string& name, bool watermark, std::string* refusal) {
  const uint64_t max_bytes = static_cast<uint64_t>(settings.MaxJobMegabytes) << 20;
  OsError error;
  const std::string job_path = ToNarrow(path);
  switch (folder.CopyIn(job_path, name, max_bytes, &error)) {
    case CopyInResult::kCopied:
      break;
    case CopyInResult::kRefused:
      return Intake::kRefused;
    case CopyInResult::kMissing:
      *refusal = "the job vanished before it was read";
      break;
    case CopyInResult::kTooLarge:
      *refusal = "the job is larger than MaxJobMegabytes (" +
                 std::to_string(settings.MaxJobMegabytes) + " MiB)";
      break;
    case CopyInResult::kFailed:
      *refusal = "the job could not be read: " + error.ToString();
      break;
  }
  if (!refusal->empty()) {
    ReportOsError(OsError{}, "job " + job_path + ": " + *refusal);
    return Intake::kFailed;
  }
  // No text, or one that cannot be taken, leaves the job without one: the
  // watermark route then fails as for a job without a text file.
  if (watermark) {
    const std::string side_file(kWatermarkTextSuffix);
    folder.CopyIn(job_path + side_file, name + side_file, max_bytes, &error);
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
int32_t JobSlotCount(const Settings& first_job) {
  static const int32_t slots = first_job.Parallel == 0 ? CoreCount() : first_job.Parallel;
  return slots;
}

// Page measurement and page rendering are independent interpreter runs over
// the same job file, so on a machine with a core to spare they run side by
// side: the measurement on a thread of its own, the rendering and the page
// images on the worker's thread. Everything a job leaves stays as it is when
// they run one after the other: the rendering's log lines are held until
// the measurement has logged its own, and the colour coverage and the
// images are written only after the page count and paper names. A job that
// no content test knows tries gs first in both stages, and the two failed
// attempts cost one run's time instead of two.
class MeasurementBeside {
 public:
  // Starts MeasurePages(settings, job) on a thread of its own when `beside`
  // (and the thread starts), else runs it at once. Both must outlive this.
  MeasurementBeside(const Settings& settings, const StagedJob& job, bool beside) {
    const ManualResetEvent* cancel = CurrentCancellation();
    auto measure = [this, &settings, &job, cancel] {
      // A cancelled job kills this thread's interpreter too.
      std::optional<ScopedCancellation> cancellation;
      if (cancel != nullptr) cancellation.emplace(*cancel);
      result_ = MeasurePages(settings, job);
    };
    if (beside && thread_.Start(measure, ThreadPriority::kLowest)) {
      held_lines_.emplace();
    } else {
      result_ = MeasurePages(settings, job);
    }
  }
  MeasurementBeside(const MeasurementBeside&) = delete;
  MeasurementBeside& operator=(const MeasurementBeside&) = delete;
  ~MeasurementBeside() { Result(); }

  // What the measurement made, once it has ended; this thread's log lines
  // since the start follow the measurement's own.
  PageCount& Result() {
    if (held_lines_) {
      thread_.Join();
      held_lines_->Release();
      held_lines_.reset();
    }
    return result_;
  }

 private:
  PageCount result_;
  Thread thread_;
  std::optional<LogLineHold> held_lines_;
};

// Without Landlock nothing but the interpreter's own safe mode would stand
// between a watermark job and every file the service can reach, so such
// jobs are refused unless the settings accept the risk.
bool WatermarkRouteAllowed(const Settings& settings) {
  if (settings.WMUnconfined || ChildFileAccessConfined()) return true;
  static std::once_flag said;
  std::call_once(said, [] {
    ReportOsError(OsError{}, std::string("watermark jobs are refused: ") +
                                 NoFileSystemSandboxReason() +
                                 " to confine their interpreter runs (WMUnconfined=1 allows them)");
  });
  return false;
}

// The marker, the last file a job writes.
void WriteMarker(const std::u16string& path, bool watermark, bool stamped) {
  if (watermark) {
    WriteWatermarkMarker(path, stamped);
  } else {
    WriteDoneMarker(path);
  }
}

// One job's way through the stages. Every stage takes the settings and the
// job's private copy and returns what it made; what the report needs is
// gathered in `notes`.
void RunStages(const Settings& settings, const std::u16string& path, bool watermark) {
  const JobStandIn stand_in(path);
  ReportNotes notes;
  OsError error;
  std::unique_ptr<PrivateFolder> folder = PrivateFolder::Make(&error);
  if (!folder) {
    // Without a folder of its own the job is not run at all.
    ReportOsError(error, "cannot make a private folder for " + ToNarrow(path));
    notes.refusal = "the service could not make the job's private folder";
  }
  const std::string name = ToNarrow(JobFileName(stand_in.path()));
  notes.received = std::chrono::system_clock::now();
  const Intake intake =
      folder ? TakeJob(settings, *folder, path, name, watermark, &notes.refusal) : Intake::kFailed;
  const std::string logged_path = ToNarrow(stand_in.path());
  if (intake == Intake::kRefused || (watermark && !WatermarkRouteAllowed(settings))) {
    WriteMarker(path, watermark, false);
    return;
  }
  if (intake == Intake::kFailed) {
    // Never read: the report says why, and the job stays where it is.
    if (!watermark && settings.IsConvert && settings.IsReport) {
      WriteReport(settings, path, logged_path, notes);
    }
    WriteMarker(path, watermark, false);
    return;
  }
  // A terminated worker stops between stages; the stage under way when the
  // cancel came has already had its child process killed.
  auto go_on = [] { return !CancellationRequested(); };
  bool stamped = false;
  {
    const StagedJob job{folder->path() + kPathSeparator + name, logged_path};
    if (watermark) {
      stamped = RunWatermark(settings, job);
    } else if (settings.IsConvert) {
      // The page count and paper names; for Type 1 and 2 the pages are
      // rendered beside it, and their coverage (Type 2) and images follow
      // it in out/.
      const bool renders = settings.Type > 0;
      MeasurementBeside measurement(settings, job, renders && MachineHasCoresToSpare());
      if (renders && go_on()) {
        const RenderedPages rendered = RenderPages(settings, job);
        notes.rendering = rendered.note;
        if (go_on()) {
          notes.imaging = ConvertPageImages(settings, job, rendered.pattern,
                                            [&measurement] { measurement.Result(); });
        }
      }
      notes.measurement = std::move(measurement.Result());
      // Pages that are not rendered: the report learns their sheets here.
      if (settings.IsReport && !renders && go_on()) notes.media_probe = ProbeMedia(settings, job);
      // What the job file says, read from the bytes the interpreters read.
      if (settings.IsReport && go_on()) notes.job_file = NoteJobFile(job, notes);
    }
    folder.reset();
  }  // the results carry the job's own name from here on
  if (!go_on()) return;
  // After every other result, before the marker.
  if (!watermark && settings.IsConvert && settings.IsReport) {
    WriteReport(settings, path, logged_path, notes);
  }
  if (!watermark && settings.IsConvert && settings.IsQuarantine) QuarantineFailedJob(path, notes);
  WriteMarker(path, watermark, stamped);
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

  // Read outside the lock: loading the settings needs no serialising.
  const Settings settings = LoadSettings();
  InterpreterLock lock(kInterpreterLockSuffix, JobSlotCount(settings), JobFileStem(path));
  if (lock.cancelled()) return 0;
  // A stop that came while this worker waited for the lock: leave the file
  // unprocessed. A later stop does not interrupt the stages.
  if (stop != nullptr && stop->IsSet()) return 0;
  RunStages(settings, path, watermark);
  return 0;
}

}  // namespace quillaro

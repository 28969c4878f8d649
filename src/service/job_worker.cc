#include "service/job_worker.h"

#include <algorithm>
#include <mutex>
#include <optional>
#include <thread>

#include "config/job.h"
#include "config/log_file.h"
#include "config/path_utils.h"
#include "config/text_utils.h"
#include "platform/cancellation.h"
#include "platform/file_system.h"
#include "platform/thread.h"
#include "service/interpreter_lock.h"
#include "service/job_path_rules.h"
#include "service/job_stand_in.h"

namespace quillaro {
namespace {

// What the worker makes of the entry that was dropped into in/.
enum class Entry {
  kJob,      // read and processed
  kRefused,  // never opened: only its marker is written, as for a failed job
  kNotAJob,  // a folder: nothing at all
};

// Anyone who can drop a file into in/ could drop a symbolic link to a file
// elsewhere (or a hard link to one, which no path check can tell from the
// original), a pipe that blocks whoever opens it, or a folder. The
// interpreters and the inspection code read the job by path, so only a
// regular file with a single name is read. A job that vanished before its
// worker came goes through the stages as before: they find nothing to read.
Entry ClassifyEntry(const std::u16string& path) {
  const EntryInfo info = GetEntryInfo(ToNarrow(path));
  switch (info.kind) {
    case EntryKind::kFolder:
      return Entry::kNotAJob;
    case EntryKind::kMissing:
      return Entry::kJob;
    case EntryKind::kFile:
      return info.hard_links == 1 ? Entry::kJob : Entry::kRefused;
    case EntryKind::kLink:
    case EntryKind::kOther:
      break;
  }
  return Entry::kRefused;
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

void RunStages(Job& job, const std::u16string& path, bool watermark, bool refused) {
  if (refused) {
    if (watermark) {
      job.WriteWatermarkMarker(path, 0);
    } else {
      job.WriteDoneMarker(path);
    }
    return;
  }
  // A terminated worker stops between stages; the stage under way when the
  // cancel came has already had its child process killed.
  auto go_on = [] { return !CancellationRequested(); };
  int watermark_result = 0;
  {
    const JobStandIn stand_in(path);
    const std::u16string& stages_path = stand_in.path();
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
    }
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
  const Entry entry = ClassifyEntry(path);
  if (entry == Entry::kNotAJob) return 0;

  std::optional<ScopedCancellation> cancellation;
  if (cancel != nullptr) cancellation.emplace(*cancel);

  // Built outside the lock: loading the settings needs no serialising.
  Job job;
  InterpreterLock lock(kInterpreterLockSuffix, JobSlotCount(job), JobFileStem(path));
  if (lock.cancelled()) return 0;
  // A stop that came while this worker waited for the lock: leave the file
  // unprocessed. A later stop does not interrupt the stages.
  if (stop != nullptr && stop->IsSet()) return 0;
  RunStages(job, path, watermark, entry == Entry::kRefused);
  return 0;
}

}  // namespace quillaro

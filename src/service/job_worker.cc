#include "service/job_worker.h"

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "config/job.h"
#include "config/path_utils.h"
#include "config/text_utils.h"
#include "platform/cancellation.h"
#include "platform/file_system.h"
#include "service/interpreter_lock.h"
#include "service/job_path_rules.h"

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

// True when `text` carries bytes that were not valid UTF-8 (kept as the lone
// surrogates U+DC80..U+DCFF, see platform/code_page.h).
bool CarriesRawBytes(const std::u16string& text) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      ++i;
    } else if (text[i] >= 0xDC80 && text[i] <= 0xDCFF) {
      return true;
    }
  }
  return false;
}

// The interpreters take their arguments as UTF-8 and drop the bytes that are
// not, so a job named in another encoding (a Latin-1 client's "lat\xE9.ps")
// would name no file for them. Such a job goes through the stages under a
// stand-in: a hard link beside it (with its watermark text, if any) whose
// name contains "pcl_2_ps", so that no job has it and the worker dispatched
// for the link itself skips it. When the stages are done, the links are
// removed and the results in out/ renamed to the job's own name; the marker
// comes after that. Jobs run one at a time (the interpreter lock), so one
// name does for the stand-in.
class StandIn {
 public:
  explicit StandIn(const std::u16string& job_path) : path_(job_path) {
    const std::u16string name = JobFileName(job_path);
    if (!CarriesRawBytes(name)) return;
    const std::u16string stem = JobFileStem(job_path);
    std::u16string extension = name.substr(std::min(stem.size(), name.size()));
    if (CarriesRawBytes(extension)) extension = u".job";
    const std::u16string stand_in =
        job_path.substr(0, job_path.size() - name.size()) + kStem + extension;
    if (!Link(job_path, stand_in)) return;
    path_ = stand_in;
    if (PathExists(ToNarrow(job_path + kWatermarkText))) {
      Link(job_path + kWatermarkText, stand_in + kWatermarkText);
    }
    renames_ = {{ToNarrow(kStem + extension), ToNarrow(name)},
                {ToNarrow(kStem) + "_", ToNarrow(stem) + "_"}};
  }
  StandIn(const StandIn&) = delete;
  StandIn& operator=(const StandIn&) = delete;
  ~StandIn() {
    std::error_code error;
    for (const std::string& link : links_) std::filesystem::remove(link, error);
    if (renames_.empty()) return;
    const std::filesystem::path out = OutFolderA();
    std::vector<std::pair<std::string, std::string>> moves;
    for (std::filesystem::directory_iterator entry(out, error), end; !error && entry != end;
         entry.increment(error)) {
      const std::string name = entry->path().filename().string();
      for (const auto& [from, to] : renames_) {
        if (!name.starts_with(from)) continue;
        moves.emplace_back(name, to + name.substr(from.size()));
        break;
      }
    }
    for (const auto& [from, to] : moves) std::filesystem::rename(out / from, out / to, error);
  }

  // The path the stages are given: the stand-in's, or the job's own.
  const std::u16string& path() const { return path_; }

 private:
  static constexpr char16_t kStem[] = u"pcl_2_ps-stand-in";
  static constexpr char16_t kWatermarkText[] = u"_watermark.txt";

  bool Link(const std::u16string& target, const std::u16string& link) {
    std::error_code error;
    std::filesystem::remove(ToNarrow(link), error);
    std::filesystem::create_hard_link(ToNarrow(target), ToNarrow(link), error);
    if (error) return false;
    links_.push_back(ToNarrow(link));
    return true;
  }

  std::u16string path_;
  std::vector<std::string> links_;
  std::vector<std::pair<std::string, std::string>> renames_;  // name prefixes, longest first
};

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
    const StandIn stand_in(path);
    const std::u16string& stages_path = stand_in.path();
    if (watermark) {
      watermark_result = job.RunWatermark(stages_path);
    } else if (job.IsConvert) {
      job.MeasurePages(stages_path);
      if (job.Type > 0) {
        if (go_on()) job.RenderPages(stages_path);
        if (job.Type > 1 && go_on()) job.MeasureColorCoverage();
        if (go_on()) job.ConvertPageImages(stages_path);
      }
    }
  }  // the results carry the job's own name from here on
  if (!go_on()) return;
  if (watermark) {
    job.WriteWatermarkMarker(path, watermark_result);
  } else {
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
  InterpreterLock lock(kInterpreterLockSuffix);
  if (lock.cancelled()) return 0;
  // A stop that came while this worker waited for the lock: leave the file
  // unprocessed. A later stop does not interrupt the stages.
  if (stop != nullptr && stop->IsSet()) return 0;
  RunStages(job, path, watermark, entry == Entry::kRefused);
  return 0;
}

}  // namespace quillaro

#ifndef QUILLARO_SERVICE_AGED_FILE_CLEANUP_H_
#define QUILLARO_SERVICE_AGED_FILE_CLEANUP_H_

#include <cstdint>
#include <string>

#include "service/service_threads.h"

namespace quillaro {

// Seconds between cleaning passes.
inline constexpr int kCleanupIntervalSeconds = 300;

// One pass over `folder` (not its sub-folders): deletes every file created
// strictly more than `age_limit_seconds` ago. Sub-folders are never deleted,
// nor is anything inside them. Entries that cannot be deleted stay and are
// tried again next pass; a missing folder does nothing. The listing is
// complete before the first deletion.
void CleanFolder(const std::u16string& folder, int32_t age_limit_seconds);

// One pass over the job folder `in_folder` (whose results are in
// `out_folder`), as CleanFolder, except that nothing is deleted unread:
// - a job that still waits (InboxListing::IsWaitingJob: no marker yet, so
//   not yet processed, or queued or running now) stays however old it is,
//   and so does its watermark text ("NAME_watermark.txt");
// - an upload in progress (a name beginning with ".") goes only once it has
//   been neither created nor written for `age_limit_seconds`: a slow upload
//   is not cut off, one that was abandoned does not stay for ever.
// A processed job goes by its creation time as before.
void CleanInbox(const std::u16string& in_folder, const std::u16string& out_folder,
                int32_t age_limit_seconds);

// The cleanup thread: loads DeleteSeconds once, cleans "in" (CleanInbox)
// and then "out" (CleanFolder) beside the executable at once and every
// 300 s, and ends within about a second of `events.stop_request`, setting
// `events.stopped`. A pass under way is finished first. `events` must
// outlive it.
uint32_t RunCleanup(ThreadEventPair& events);

// The service's cleanup thread entry: RunCleanup(threads->cleanup).
uint32_t CleanupThread(ServiceThreads* threads);

}  // namespace quillaro

#endif  // QUILLARO_SERVICE_AGED_FILE_CLEANUP_H_

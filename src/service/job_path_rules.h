#ifndef QUILLARO_SERVICE_JOB_PATH_RULES_H_
#define QUILLARO_SERVICE_JOB_PATH_RULES_H_

#include <string>

namespace quillaro {

// True when the file name of `path` (its last component; the folders do not
// count) contains one of the names the service's own stages give to what
// they write (kOwnNameParts of config/result_names.h), compared exactly
// (case-sensitive): such files are never processed.
bool IsOwnOutputPath(const std::u16string& path);

// True when the file name of `path` begins with ".": a file still being
// uploaded. rsync, scp clients and many others write a hidden temporary name
// and rename it to the real one when it is complete, so the hidden name is
// never a job (the renamed one is).
bool IsUploadInProgress(const std::u16string& path);

// True when `path` contains "WTR" (case-sensitive), anywhere in the path,
// folders included: the watermark route.
bool IsWatermarkPath(const std::u16string& path);

}  // namespace quillaro

#endif  // QUILLARO_SERVICE_JOB_PATH_RULES_H_

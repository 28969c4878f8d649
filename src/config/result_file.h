#ifndef QUILLARO_CONFIG_RESULT_FILE_H_
#define QUILLARO_CONFIG_RESULT_FILE_H_

#include <string>

namespace quillaro {

// Writes a file a stage leaves for the client or for a later step (page
// count, paper size, colour coverage, completion markers, watermark output
// and its intermediate files) as exactly `bytes`. In and out are open to
// anyone who drops jobs, so the file is made anew: whatever entry had the
// name is removed, and a link planted under it is never written through
// (WriteNewFile). A file that cannot be written is skipped, as every stage
// goes on without it; the cause is reported once on standard error, never
// in log.txt. Returns true when the whole file was written. Any thread.
bool WriteResultFile(const std::string& path, const std::string& bytes);

}  // namespace quillaro

#endif  // QUILLARO_CONFIG_RESULT_FILE_H_

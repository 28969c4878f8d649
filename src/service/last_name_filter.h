#ifndef QUILLARO_SERVICE_LAST_NAME_FILTER_H_
#define QUILLARO_SERVICE_LAST_NAME_FILTER_H_

#include <string>

namespace quillaro {

// Decides which change records become jobs. A copied file yields several
// records for one path; only the first counts. A record whose path equals
// the previous record's path (exact, case-sensitive) is dropped; any other
// path becomes the new last name and is dispatched when it still names an
// existing file or folder, which drops removals and the old half of a
// rename. Not thread-safe (the inbox watcher alone uses it).
class LastNameFilter {
 public:
  // True when `path` is to be dispatched.
  bool Accept(const std::u16string& path);
  const std::u16string& last_name() const { return last_name_; }

 private:
  std::u16string last_name_;
};

}  // namespace quillaro

#endif  // QUILLARO_SERVICE_LAST_NAME_FILTER_H_

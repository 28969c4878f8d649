#ifndef QUILLARO_SERVICE_CHANGE_RECORD_H_
#define QUILLARO_SERVICE_CHANGE_RECORD_H_

#include <cstdint>
#include <string>

namespace quillaro {

// One change in a watched folder: the system's file action code (1 added,
// 2 removed, 3 modified, 4 old name of a rename, 5 new name; see
// platform/directory_watch.h) and the full path of the file concerned.
struct ChangeRecord {
  uint32_t action = 0;
  std::u16string path;
};

}  // namespace quillaro

#endif  // QUILLARO_SERVICE_CHANGE_RECORD_H_

#include "service/last_name_filter.h"

#include "config/path_utils.h"

namespace quillaro {

bool LastNameFilter::Accept(const std::u16string& path) {
  if (path == last_name_) return false;
  last_name_ = path;
  return FileExists(path);
}

}  // namespace quillaro

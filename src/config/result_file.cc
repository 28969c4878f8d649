#include "config/result_file.h"

#include "platform/file_system.h"
#include "platform/os_error.h"

namespace quillaro {

bool WriteResultFile(const std::string& path, const std::string& bytes) {
  OsError error;
  if (WriteNewFile(path, bytes, &error)) return true;
  ReportOsError(error);
  return false;
}

}  // namespace quillaro

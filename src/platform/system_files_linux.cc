#include "platform/system_files.h"

#include <cstdlib>

namespace quillaro {

InterpreterFileNames InterpreterFiles() { return {u"gs", u"gpcl6", u"gxps"}; }

std::string SystemFontFolder() { return "/usr/share/fonts"; }

std::string PclFontSource(const std::string& font_folder) {
  // Where the link leads: a child running as the job user may not be able
  // to look into the service's folder.
  std::string folder = font_folder;
  if (char* resolved = ::realpath(font_folder.c_str(), nullptr)) {
    folder = resolved;
    std::free(resolved);
  }
  return folder + "/";
}

}  // namespace quillaro

#include "platform/system_files.h"

namespace quillaro {

InterpreterFileNames InterpreterFiles() { return {u"gs", u"gpcl6", u"gxps"}; }

std::string SystemFontFolder() { return "/usr/share/fonts"; }

std::string PclFontSource(const std::string& font_folder) { return font_folder + "/"; }

}  // namespace quillaro

#ifndef QUILLARO_PLATFORM_SYSTEM_FILES_H_
#define QUILLARO_PLATFORM_SYSTEM_FILES_H_

#include <string>

namespace quillaro {

// The file names of the interpreters in the module folder: gs, gpcl6 and
// gxps on Linux; gswin32c.exe, gpcl6win32.exe and gxpswin32.exe on Windows.
struct InterpreterFileNames {
  const char16_t* postscript;  // PostScript and PDF
  const char16_t* pcl;         // PCL 5 and PCL XL
  const char16_t* xps;
};
InterpreterFileNames InterpreterFiles();

// The system's font folder, narrow, without a trailing separator:
// /usr/share/fonts on Linux, the Windows folder's Fonts on Windows. Safe
// from any thread.
std::string SystemFontFolder();

// The value of GhostPCL's PCLFONTSOURCE for the font kit in `font_folder`
// (narrow, no trailing separator): the folder with a separator at its end,
// written with "/" on both systems (GhostPCL on Windows takes no "\" there).
std::string PclFontSource(const std::string& font_folder);

}  // namespace quillaro

#endif  // QUILLARO_PLATFORM_SYSTEM_FILES_H_

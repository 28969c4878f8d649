#ifndef QUILLARO_PLATFORM_MODULE_PATH_H_
#define QUILLARO_PLATFORM_MODULE_PATH_H_

#include <optional>
#include <string>

namespace quillaro {

// The separator the rest of the system joins and splits paths with.
#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// Full path of the running executable in the system's narrow encoding, with
// symbolic links resolved (so a link to the binary still finds its real
// folder). Empty optional when the system cannot tell.
// On Linux this is /proc/self/exe; on Windows GetModuleFileNameW.
std::optional<std::string> ExecutablePath();

// The folder of ExecutablePath() without a trailing separator, narrow; empty
// when the system cannot tell. Every file and folder of the service is found
// from here. Safe from any thread.
std::string ModuleFolder();

}  // namespace quillaro

#endif  // QUILLARO_PLATFORM_MODULE_PATH_H_

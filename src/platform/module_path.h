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
// when the system cannot tell. The interpreters and the font kit are found
// here, and the service's data too unless DataFolder() says otherwise. Safe
// from any thread.
std::string ModuleFolder();

// The folder of the service's data (settings.ini, log.txt, in, out, failed),
// without a trailing separator, narrow. On Windows the value DataFolder
// (REG_SZ) under HKEY_LOCAL_MACHINE\SOFTWARE\Quillaro when it is set and not
// empty: the installer puts the program under Program Files, which only
// administrators may change, and the data under ProgramData. Otherwise, and
// always on Linux, ModuleFolder(). Read once; safe from any thread.
std::string DataFolder();

// The folder of what the service keeps after out/ is cleaned (the ledger),
// without a trailing separator, narrow. On Linux the first folder of
// systemd's STATE_DIRECTORY (/var/lib/quillaro under the unit, the one place
// beside in/ and out/ its sandbox lets it write) when set, else
// DataFolder(). On Windows DataFolder()\ledger, made by the install with
// the same rights for the service as in\ and out\: where program and data
// share a folder (the install without the MSI) the service may not create
// files beside its own program, and SQLite makes its journal files beside
// the database. Not created here.
std::string StateFolder();

}  // namespace quillaro

#endif  // QUILLARO_PLATFORM_MODULE_PATH_H_

#ifndef QUILLARO_SERVICE_CONFINEMENT_NOTICE_H_
#define QUILLARO_SERVICE_CONFINEMENT_NOTICE_H_

namespace quillaro {

// The line written once at start when the kernel cannot confine the
// interpreters (a job run without safe mode could then read and write any
// file the service can).
inline constexpr char kUnconfinedNotice[] =
    "interpreters run unconfined: this kernel offers no Landlock";

// Called once at start with the kernel's Landlock ABI version
// (FileSystemSandboxVersion()). When it is 0, writes kUnconfinedNotice as one line
// on standard error and, when settings.ini switches logging on, to log.txt,
// and returns true; otherwise writes nothing and returns false.
bool ReportInterpreterConfinement(int landlock_abi_version);

}  // namespace quillaro

#endif  // QUILLARO_SERVICE_CONFINEMENT_NOTICE_H_

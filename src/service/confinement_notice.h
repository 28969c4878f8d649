#ifndef QUILLARO_SERVICE_CONFINEMENT_NOTICE_H_
#define QUILLARO_SERVICE_CONFINEMENT_NOTICE_H_

namespace quillaro {

// The start of the line written once at start when the system cannot confine
// the interpreters' file access (a job run without safe mode could then read
// and write any file the service can); NoFileSystemSandboxReason() follows.
inline constexpr char kUnconfinedNotice[] = "interpreters run unconfined: ";

// Called once at start with the system's file-system sandbox version
// (FileSystemSandboxVersion()). When it is 0, writes the notice as one line
// on standard error and, when settings.ini switches logging on, to log.txt,
// and returns true; otherwise writes nothing and returns false.
bool ReportInterpreterConfinement(int sandbox_version);

}  // namespace quillaro

#endif  // QUILLARO_SERVICE_CONFINEMENT_NOTICE_H_

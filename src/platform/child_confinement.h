#ifndef QUILLARO_PLATFORM_CHILD_CONFINEMENT_H_
#define QUILLARO_PLATFORM_CHILD_CONFINEMENT_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/event.h"

namespace quillaro {

// What an interpreter child may touch. Everything else on the file system is
// denied to it, whatever the options it was started with (a job run with
// -dNOSAFER can still not read /etc/passwd or write outside its folders).
struct ConfinementPolicy {
  // Files or folder trees the child may read and execute.
  std::vector<std::string> readable;
  // Folder trees the child may also write, create, rename and delete in.
  std::vector<std::string> writable;
  // Resource limits; 0 leaves a limit as inherited. Core dumps are always off.
  uint64_t address_space_bytes = 0;
  uint64_t file_size_bytes = 0;
};

// The Landlock ABI version the kernel offers; 0 when it has none (the child
// then runs with the resource limits only).
int LandlockAbiVersion();

// The policy for interpreter runs of the service in `module_folder`: read the
// system's libraries and interpreter resources, the module folder and what
// its links point to (interpreters, font kit); write only in/, out/ and
// `scratch_folder`.
ConfinementPolicy InterpreterConfinement(const std::string& module_folder,
                                         const std::string& scratch_folder);

// A policy made ready in the parent before the fork: the rules are built
// there, so that the forked child, which may only make system calls, just
// has to apply them. Move-only.
class PreparedConfinement {
 public:
  // Builds the rules of `policy`. Paths that do not exist are left out. When
  // the kernel has no Landlock, only the resource limits will apply.
  explicit PreparedConfinement(const ConfinementPolicy& policy);
  PreparedConfinement(PreparedConfinement&& other) noexcept;
  PreparedConfinement& operator=(PreparedConfinement&&) = delete;
  PreparedConfinement(const PreparedConfinement&) = delete;
  ~PreparedConfinement();

  // True when the file-system rules will be enforced.
  bool sandboxed() const { return ruleset_ >= 0; }

  // In the forked child, before exec: turns core dumps off, sets the
  // resource limits and confines the process. Uses only async-signal-safe
  // system calls. Returns 0, or the errno of the call that failed, named in
  // `*failed_call` (a string literal); the child must then not exec.
  int ApplyInChild(const char** failed_call) const noexcept;

 private:
  NativeHandle ruleset_ = -1;  // a Landlock ruleset descriptor on Linux
  uint64_t address_space_bytes_ = 0;
  uint64_t file_size_bytes_ = 0;
};

}  // namespace quillaro

#endif  // QUILLARO_PLATFORM_CHILD_CONFINEMENT_H_

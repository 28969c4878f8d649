#ifndef QUILLARO_TESTS_PLATFORM_FAKE_CHILD_H_
#define QUILLARO_TESTS_PLATFORM_FAKE_CHILD_H_

#include <string>

#include "platform/os_error.h"

namespace quillaro::testing {

// The runner tests' binary doubles as the fake child: called with
// "--fake-child=MODE" it plays that child instead of running tests.

// Full path of the test program, set by main before any test runs.
const std::string& FakeChildPath();

// Plays the system's own fake-child modes ("family": starts a grandchild
// that outlives its parent unless the runner ends the whole tree, prints the
// grandchild's process id and waits forever). Returns the exit code.
int RunSystemFakeChild(const std::string& mode);

// True once the process with the id in `id_text` is gone (or a zombie).
bool ProcessGoneSoon(const std::string& id_text);

// What the runner reports when `application` does not exist.
OsError MissingProgramError(const std::string& application);

// A path of a program that does not exist, absolute on this system.
std::string MissingProgramPath();

}  // namespace quillaro::testing

#endif  // QUILLARO_TESTS_PLATFORM_FAKE_CHILD_H_

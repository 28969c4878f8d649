// Runs a program as on a kernel built without Landlock: every Landlock call
// fails with ENOSYS, as it does there. The filter is inherited by everything
// the program starts, the service's interpreter runs included.
//   without_landlock PROGRAM [ARGUMENT...]
#include <errno.h>
#include <seccomp.h>
#include <unistd.h>

#include <cstdio>
#include <initializer_list>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: without_landlock PROGRAM [ARGUMENT...]\n");
    return 2;
  }
  scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ALLOW);
  if (filter == nullptr) return 1;
  for (const char* call : {"landlock_create_ruleset", "landlock_add_rule", "landlock_restrict_self"}) {
    if (seccomp_rule_add(filter, SCMP_ACT_ERRNO(ENOSYS), seccomp_syscall_resolve_name(call), 0) != 0) {
      std::fprintf(stderr, "without_landlock: cannot filter %s\n", call);
      return 1;
    }
  }
  const int loaded = seccomp_load(filter);
  seccomp_release(filter);
  if (loaded != 0) {
    std::fprintf(stderr, "without_landlock: cannot load the filter\n");
    return 1;
  }
  ::execv(argv[1], argv + 1);
  std::perror("without_landlock: execv");
  return 127;
}

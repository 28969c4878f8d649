// The runner's Linux means: signals, inherited descriptors, exec errors, and
// the fake child's family kept in one process group.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "config/text_utils.h"
#include "fake_child.h"
#include "platform/child_process.h"

namespace quillaro {
namespace testing {

int RunSystemFakeChild(const std::string& mode) {
  if (mode == "inherit") {
    std::fputs(std::getchar() == EOF ? "no input" : "input", stdout);
    // Any descriptor beyond the standard three is a leak from the service.
    for (int fd = 3; fd < 1024; ++fd) {
      if (::fcntl(fd, F_GETFD) >= 0) std::printf(" open %d", fd);
    }
  } else if (mode == "segv") {
    ::signal(SIGSEGV, SIG_DFL);  // past any handler a sanitizer installed
    ::raise(SIGSEGV);
  } else if (mode == "family") {
    // A grandchild that outlives its parent unless the runner kills the group
    // (where the child may start one at all).
    const pid_t grandchild = ::fork();
    if (grandchild > 0) {
      std::printf("%d", grandchild);
    } else {
      std::fputs("refused", stdout);
    }
    for (;;) ::pause();
  }
  return 0;
}

bool ProcessGoneSoon(const std::string& id_text) {
  if (id_text == "refused") return true;  // never started
  const int pid = std::atoi(id_text.c_str());
  for (int i = 0; pid > 0 && i < 200; ++i) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line) || line.find(") Z ") != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

OsError MissingProgramError(const std::string& application) {
  return OsError{"execve", ENOENT, application};
}

std::string MissingProgramPath() { return "/nonexistent/gs"; }

namespace {

TEST(ProcessRunnerLinuxTest, ReportsSignalsAndExecErrorsAndHandsOnNoDescriptor) {
  // Opened the plain C way, so inheritable: the runner must still not hand it on.
  std::FILE* inheritable = std::fopen(FakeChildPath().c_str(), "rb");
  ASSERT_NE(inheritable, nullptr);
  const struct {
    std::string application, line, output;  // an application "." is this program
    int result;
    int exec_errno = 0;  // what the child reports (for execve) when it cannot exec
  } cases[] = {{".", "f --fake-child=segv", "", 128 + SIGSEGV},
               {"", "gs", "", -1, ENOENT},
               {"/tmp", "gs", "", -1, EACCES},  // a folder is no program
               {".", "f --fake-child=inherit", "no input", 0}};
  for (const auto& c : cases) {
    std::string output = "before:";
    const std::string application = c.application == "." ? FakeChildPath() : c.application;
    OsError e;
    EXPECT_EQ(ProcessRunner::Run(ToWide(application), ToWide(c.line), output, 10, &e), c.result);
    EXPECT_EQ(e.call + e.path + std::to_string(e.code),
              (c.result < 0 ? "execve" + application : "") + std::to_string(c.exec_errno))
        << c.line;
    EXPECT_TRUE(output == "before:" + c.output) << c.line << ": " << output.substr(0, 200);
  }
  std::fclose(inheritable);
}

}  // namespace
}  // namespace testing
}  // namespace quillaro

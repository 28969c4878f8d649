#include "platform/child_process.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "config/text_utils.h"
#include "platform/cancellation.h"
#include "platform/event.h"

namespace quillaro {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

std::string self_path;  // full path of this program, set by main

// More than a pipe's buffer holds.
std::string Flood() {
  std::string bytes(1 << 20, ' ');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>('a' + i % 23);
  return bytes;
}

int RunFakeChild(const std::string& mode, int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);  // so stdout and stderr mix in the order written
  if (mode.rfind("exit:", 0) == 0) return std::atoi(mode.c_str() + 5);
  if (mode == "args") {
    for (int i = 0; i < argc; ++i) std::fprintf(i % 2 ? stderr : stdout, "[%s]", argv[i]);
  } else if (mode == "flood") {
    std::fputs(Flood().c_str(), stdout);
    return 3;
  } else if (mode == "inherit") {
    std::fputs(std::getchar() == EOF ? "no input" : "input", stdout);
    // Any descriptor beyond the standard three is a leak from the service.
    for (int fd = 3; fd < 1024; ++fd) {
      if (::fcntl(fd, F_GETFD) >= 0) std::printf(" open %d", fd);
    }
  } else if (mode == "segv") {
    ::signal(SIGSEGV, SIG_DFL);  // past any handler a sanitizer installed
    ::raise(SIGSEGV);
  } else if (mode == "family") {
    // A grandchild that outlives its parent unless the runner kills the group.
    const pid_t grandchild = ::fork();
    if (grandchild > 0) std::printf("%d", grandchild);
    for (;;) ::pause();
  }
  return 0;
}

int RunSelf(const std::string& mode, std::string& output, int32_t limit_seconds) {
  return ProcessRunner::Run(ToWide(self_path), ToWide("fake --fake-child=" + mode), output,
                            limit_seconds);
}

// True once the process `pid_text` names is gone or a zombie.
bool GoneSoon(const std::string& pid_text) {
  const int pid = std::atoi(pid_text.c_str());
  for (int i = 0; pid > 0 && i < 200; ++i) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line) || line.find(") Z ") != std::string::npos) return true;
    std::this_thread::sleep_for(milliseconds(10));
  }
  return false;
}

TEST(SplitCommandLineTest, FollowsTheWindowsRules) {
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {"", {}},
      {" -dNOPAUSE -dBATCH", {"", "-dNOPAUSE", "-dBATCH"}},
      {"-q -sOutputFile=\"/out/x_%d.png_\"", {"-q", "-sOutputFile=/out/x_%d.png_"}},
      {"p a\\b \\\\\"c d\" e", {"p", "a\\b", "\\c d", "e"}},
      {"p \\\"x\\\\\\\"y", {"p", "\"x\\\"y"}},
      {"p \"a\"\"b\" \"\"", {"p", "a\"b", ""}},
      {"p\t a\t\t", {"p", "a"}},
      {"p \"unterminated blank", {"p", "unterminated blank"}},
  };
  for (const auto& [line, arguments] : cases) EXPECT_EQ(SplitCommandLine(line), arguments) << line;
}

TEST(ProcessRunnerTest, ReturnsTheResultAndAppendsExactlyWhatTheChildWrote) {
  // Opened the plain C way, so inheritable: the runner must still not hand it on.
  std::FILE* inheritable = std::fopen(self_path.c_str(), "rb");
  ASSERT_NE(inheritable, nullptr);
  const struct {
    std::string application, line, output;  // an application "." is this program
    int result;
    int exec_errno = 0;  // what the child reports (for execve) when it cannot exec
  } cases[] = {{".", "f --fake-child=exit:255", "", 255},
               {".", "f --fake-child=segv", "", 128 + SIGSEGV},
               {"/nonexistent/gs", "gs", "", -1, ENOENT},
               {"", "gs", "", -1, ENOENT},
               {"/tmp", "gs", "", -1, EACCES},  // a folder is no program
               {".", "\"my prog\" --fake-child=args \"a b\" c\\\"d",
                "[my prog][--fake-child=args][a b][c\"d]", 0},
               {".", "f --fake-child=inherit", "no input", 0},
               {".", "f --fake-child=flood", Flood(), 3}};
  for (const auto& c : cases) {
    std::string output = "before:";
    const std::string application = c.application == "." ? self_path : c.application;
    OsError e;
    EXPECT_EQ(ProcessRunner::Run(ToWide(application), ToWide(c.line), output, 10, &e), c.result);
    EXPECT_EQ(e.call + e.path + std::to_string(e.code),
              (c.result < 0 ? "execve" + application : "") + std::to_string(c.exec_errno))
        << c.line;
    EXPECT_TRUE(output == "before:" + c.output) << c.line << ": " << output.substr(0, 200);
  }
  std::fclose(inheritable);
}

// Both end a run by killing the child's whole group, keeping what it wrote.
TEST(ProcessRunnerTest, TimeLimitAndCancellationKillTheWholeGroup) {
  for (const bool cancelled : {false, true}) {
    ManualResetEvent cancel;
    ScopedCancellation scope(cancel);
    std::thread canceller([&] {
      std::this_thread::sleep_for(milliseconds(500));
      if (cancelled) cancel.Set();
    });
    // The family runs until killed: only the cancel (long before the 600 s limit) or the
    // limit ends the run. The limit is the one time that matters here: never before it.
    const auto start = steady_clock::now();
    std::string output = "> ";
    EXPECT_EQ(RunSelf("family", output, cancelled ? 600 : 10), 123) << cancelled;
    const auto elapsed = steady_clock::now() - start;
    canceller.join();
    if (!cancelled) {
      EXPECT_GE(elapsed, milliseconds(10900));
    }
    ASSERT_EQ(output.substr(0, 2), "> ");
    EXPECT_TRUE(GoneSoon(output.substr(2))) << output;
    EXPECT_EQ(RunSelf("exit:0", output, 10), cancelled ? 123 : 0);  // once cancelled, none starts
  }
}

}  // namespace
}  // namespace quillaro

int main(int argc, char** argv) {
  // Called with "--fake-child=MODE", this program plays that child instead of running tests.
  if (argc >= 2 && std::strncmp(argv[1], "--fake-child=", 13) == 0) {
    return quillaro::RunFakeChild(argv[1] + 13, argc, argv);
  }
  quillaro::self_path = std::filesystem::absolute(argv[0]).string();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

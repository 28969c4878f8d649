#include "platform/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "config/text_utils.h"
#include "platform/cancellation.h"
#include "platform/event.h"

// This test program doubles as the child that the runner starts: called
// with "--fake-child=MODE" as its first option it plays that part and exits
// before any test runs.

namespace quillaro {
namespace {

std::string self_path;  // full path of this program, set by main

constexpr size_t kFloodBytes = 1 << 20;  // well beyond a pipe's buffer

char FloodByte(size_t index) { return static_cast<char>('a' + index % 23); }

[[noreturn]] void SleepForever() {
  for (;;) ::pause();
}

// Each mode is one behaviour the runner must cope with.
int RunFakeChild(const std::string& mode, int argc, char** argv) {
  if (mode.rfind("exit:", 0) == 0) return std::atoi(mode.c_str() + 5);
  if (mode == "args") {
    for (int i = 0; i < argc; ++i) std::cout << '[' << argv[i] << ']';
    return 0;
  }
  if (mode == "stderr") {
    std::cerr << "only on stderr";
    return 0;
  }
  if (mode == "interleave") {
    // Unbuffered, so the order of the two streams is the order here.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::fputs("out1 ", stdout);
    std::fputs("err1 ", stderr);
    std::fputs("out2", stdout);
    return 0;
  }
  if (mode == "flood") {
    std::string bytes(kFloodBytes, ' ');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = FloodByte(i);
    std::cout << bytes << std::flush;
    return 3;
  }
  if (mode == "stdin") {
    std::string input((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
    std::cout << "read " << input.size();
    return 0;
  }
  if (mode == "fds") {
    // Every descriptor beyond the standard three is a leak from the service.
    for (int fd = 3; fd < 1024; ++fd) {
      if (::fcntl(fd, F_GETFD) >= 0) std::cout << "open " << fd << ' ';
    }
    return 0;
  }
  if (mode == "sleep") {
    std::cout << "started" << std::flush;
    SleepForever();
  }
  if (mode == "sleep-ms") {
    // Reports when it ends on the machine-wide monotonic clock.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    std::cout << std::chrono::steady_clock::now().time_since_epoch().count() << std::flush;
    return 0;
  }
  if (mode == "segv") {
    // Past any handler a sanitizer may have installed.
    ::signal(SIGSEGV, SIG_DFL);
    ::raise(SIGSEGV);
    return 0;
  }
  if (mode == "orphan" || mode == "family") {
    // A grandchild that would outlive the run unless the runner stops it.
    const pid_t grandchild = ::fork();
    if (grandchild == 0) SleepForever();
    std::cout << grandchild << std::flush;
    if (mode == "orphan") return 0;
    SleepForever();
  }
  std::cerr << "unknown fake-child mode " << mode;
  return 99;
}

std::u16string SelfCommand(const std::string& mode, const std::string& extra = "") {
  return ToWide("fake --fake-child=" + mode + extra);
}

int RunSelf(const std::string& mode, std::string& output, int32_t limit_seconds = 10) {
  return ProcessRunner::Run(ToWide(self_path), SelfCommand(mode), output, limit_seconds);
}

// True while `pid` exists and is not a zombie.
bool ProcessAlive(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return false;
  const size_t paren = line.rfind(')');
  return paren != std::string::npos && paren + 2 < line.size() && line[paren + 2] != 'Z';
}

// The group was killed with SIGKILL, so a survivor is gone within moments.
bool GoneSoon(pid_t pid) {
  for (int i = 0; i < 200 && ProcessAlive(pid); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return !ProcessAlive(pid);
}

TEST(SplitCommandLineTest, FollowsTheWindowsRules) {
  struct Case {
    std::string line;
    std::vector<std::string> arguments;
  };
  const Case cases[] = {
      {"", {}},
      {"-q -dNOPAUSE", {"-q", "-dNOPAUSE"}},
      {" -dNOPAUSE -dBATCH", {"", "-dNOPAUSE", "-dBATCH"}},
      {"-q \"/in/a b.pcl\"", {"-q", "/in/a b.pcl"}},
      {"-q -sOutputFile=\"/out/x_%d.png_\"", {"-q", "-sOutputFile=/out/x_%d.png_"}},
      {"\"C:\\Pro gram\\gs.exe\" a", {"C:\\Pro gram\\gs.exe", "a"}},
      {"p a\\b \\\\\"c d\" e", {"p", "a\\b", "\\c d", "e"}},
      {"p \\\"x\\\\\\\"y", {"p", "\"x\\\"y"}},
      {"p \"a\"\"b\" \"\"", {"p", "a\"b", ""}},
      {"p\t a\t\t", {"p", "a"}},
      {"p \"unterminated blank", {"p", "unterminated blank"}},
      {"p trailing\\", {"p", "trailing\\"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SplitCommandLine(c.line), c.arguments) << c.line;
  }
}

TEST(ProcessRunnerTest, ReturnsTheExitCodeAndKeepsEarlierText) {
  for (int code : {0, 7, 122, 255}) {
    std::string output = "before";
    EXPECT_EQ(RunSelf("exit:" + std::to_string(code), output), code);
    EXPECT_EQ(output, "before") << code;
  }
}

TEST(ProcessRunnerTest, PassesArgumentsAndProgramNameAsSplit) {
  std::string output;
  ASSERT_EQ(ProcessRunner::Run(ToWide(self_path),
                               u"\"my prog\" --fake-child=args \"a b\" c\\\"d", output, 10),
            0);
  EXPECT_EQ(output, "[my prog][--fake-child=args][a b][c\"d]");
}

TEST(ProcessRunnerTest, CollectsBothStreamsInWriteOrder) {
  std::string output = "x:";
  EXPECT_EQ(RunSelf("stderr", output), 0);
  EXPECT_EQ(output, "x:only on stderr");
  output.clear();
  EXPECT_EQ(RunSelf("interleave", output), 0);
  EXPECT_EQ(output, "out1 err1 out2");
}

TEST(ProcessRunnerTest, CollectsOutputLargerThanThePipeExactly) {
  std::string output = "head";
  EXPECT_EQ(RunSelf("flood", output), 3);
  ASSERT_EQ(output.size(), 4 + kFloodBytes);
  size_t mismatches = 0;
  for (size_t i = 0; i < kFloodBytes; ++i) mismatches += output[4 + i] != FloodByte(i);
  EXPECT_EQ(mismatches, 0u);
}

TEST(ProcessRunnerTest, ChildGetsEmptyInputAndNoInheritedDescriptors) {
  // A descriptor opened the plain C way is inheritable: the runner must
  // still not hand it on.
  std::FILE* inheritable = std::fopen(self_path.c_str(), "rb");
  ASSERT_NE(inheritable, nullptr);
  std::string output;
  EXPECT_EQ(RunSelf("fds", output), 0);
  EXPECT_EQ(output, "");
  std::fclose(inheritable);

  output.clear();
  EXPECT_EQ(RunSelf("stdin", output), 0);
  EXPECT_EQ(output, "read 0");
}

TEST(ProcessRunnerTest, ReportsASignalAsOneHundredTwentyEightPlusItsNumber) {
  std::string output;
  EXPECT_EQ(RunSelf("segv", output), 128 + SIGSEGV);
}

TEST(ProcessRunnerTest, MissingProgramCannotStart) {
  std::string output = "kept";
  EXPECT_EQ(ProcessRunner::Run(u"/nonexistent/gs", u"-q -v", output, 10), -1);
  EXPECT_EQ(ProcessRunner::Run(u"", u"-q", output, 10), -1);
  // A folder is no program either.
  EXPECT_EQ(ProcessRunner::Run(u"/tmp", u"-q", output, 10), -1);
  EXPECT_EQ(output, "kept");
}

TEST(ProcessRunnerTest, ReturnsWhenTheChildEndsWithoutWaitingForAPoll) {
  std::string output;
  EXPECT_EQ(RunSelf("sleep-ms", output), 0);
  const std::chrono::steady_clock::time_point returned = std::chrono::steady_clock::now();
  // The child's end, as it reported it: a runner that looks once a second
  // would notice a child of 0.2 s most of a second late.
  const std::chrono::steady_clock::time_point ended{
      std::chrono::steady_clock::duration(std::strtoll(output.c_str(), nullptr, 10))};
  ASSERT_GT(ended.time_since_epoch().count(), 0) << output;
  EXPECT_LT(returned - ended, std::chrono::milliseconds(300));
}

TEST(ProcessRunnerTest, StopsWhatTheChildLeftRunning) {
  std::string output;
  EXPECT_EQ(RunSelf("orphan", output), 0);
  const pid_t grandchild = static_cast<pid_t>(std::atoi(output.c_str()));
  ASSERT_GT(grandchild, 0) << output;
  EXPECT_TRUE(GoneSoon(grandchild));
}

TEST(ProcessRunnerTest, CancellationKillsTheWholeGroup) {
  ManualResetEvent cancel;
  ScopedCancellation scope(cancel);
  std::thread canceller([&cancel] {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    cancel.Set();
  });
  const auto start = std::chrono::steady_clock::now();
  std::string output;
  const int result = RunSelf("family", output, 60);
  canceller.join();
  EXPECT_EQ(result, 123);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  const pid_t grandchild = static_cast<pid_t>(std::atoi(output.c_str()));
  ASSERT_GT(grandchild, 0) << output;
  EXPECT_TRUE(GoneSoon(grandchild));

  // Once cancelled, nothing more is started.
  output.clear();
  EXPECT_EQ(RunSelf("exit:0", output), 123);
}

TEST(ProcessRunnerTest, TimeLimitEndsAChildThatNeverEnds) {
  const auto start = std::chrono::steady_clock::now();
  std::string output = "> ";
  EXPECT_EQ(RunSelf("sleep", output, 10), 123);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, std::chrono::milliseconds(10900));
  EXPECT_LT(elapsed, std::chrono::seconds(20));
  EXPECT_EQ(output, "> started");
}

}  // namespace
}  // namespace quillaro

int main(int argc, char** argv) {
  if (argc >= 2 && std::strncmp(argv[1], "--fake-child=", 13) == 0) {
    return quillaro::RunFakeChild(argv[1] + 13, argc, argv);
  }
  quillaro::self_path = std::filesystem::absolute(argv[0]).string();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

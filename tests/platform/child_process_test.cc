#include "platform/child_process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "config/text_utils.h"
#include "fake_child.h"
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
  // Unbuffered, so that stdout and stderr mix in the order written.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  std::setvbuf(stderr, nullptr, _IONBF, 0);
  if (mode.rfind("exit:", 0) == 0) return std::atoi(mode.c_str() + 5);
  if (mode == "args") {
    for (int i = 0; i < argc; ++i) std::fprintf(i % 2 ? stderr : stdout, "[%s]", argv[i]);
  } else if (mode == "flood") {
    std::fputs(Flood().c_str(), stdout);
    return 3;
  } else if (mode == "input") {
    std::fputs(std::getchar() == EOF ? "no input" : "input", stdout);
  } else {
    return testing::RunSystemFakeChild(mode);
  }
  return 0;
}

int RunSelf(const std::string& mode, std::string& output, int32_t limit_seconds) {
  return ProcessRunner::Run(ToWide(self_path), ToWide("fake --fake-child=" + mode), output,
                            limit_seconds);
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
  const std::string missing = testing::MissingProgramPath();
  const struct {
    std::string application, line, output;  // an application "." is this program
    int result;
  } cases[] = {{".", "f --fake-child=exit:255", "", 255},
               {missing, "gs", "", -1},
               {".", "\"my prog\" --fake-child=args \"a b\" c\\\"d",
                "[my prog][--fake-child=args][a b][c\"d]", 0},
               {".", "f --fake-child=input", "no input", 0},
               {".", "f --fake-child=flood", Flood(), 3}};
  for (const auto& c : cases) {
    std::string output = "before:";
    const std::string application = c.application == "." ? self_path : c.application;
    OsError e;
    EXPECT_EQ(ProcessRunner::Run(ToWide(application), ToWide(c.line), output, 10, &e), c.result);
    const OsError expected = c.result < 0 ? testing::MissingProgramError(application) : OsError{};
    EXPECT_EQ(e.call + e.path + std::to_string(e.code),
              expected.call + expected.path + std::to_string(expected.code))
        << c.line;
    if (c.result < 0) {
      EXPECT_EQ(e.kind(), OsErrorKind::kNotFound) << e.ToString();
    }
    EXPECT_TRUE(output == "before:" + c.output) << c.line << ": " << output.substr(0, 200);
  }
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
    EXPECT_TRUE(testing::ProcessGoneSoon(output.substr(2))) << output;
    EXPECT_EQ(RunSelf("exit:0", output, 10), cancelled ? 123 : 0);  // once cancelled, none starts
  }
}

}  // namespace

namespace testing {
const std::string& FakeChildPath() { return self_path; }
}  // namespace testing

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

#include "interp/interpreter_runs.h"

#include <signal.h>
#include <stdlib.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "config/job.h"
#include "interp_fixture.h"
#include "platform/child_process.h"

namespace quillaro {
namespace {

using testing::FakeInterpreter;
using testing::LogMessages;

// The fake interpreter: what a test asked for through the environment.
int RunFakeInterpreter(const std::string& mode, int argc, char** argv) {
  if (mode == "args") {
    std::ofstream file(std::getenv(testing::kFakeArgsFileVariable), std::ios::binary);
    for (int i = 0; i < argc; ++i) file << '[' << argv[i] << ']';
    return 0;
  }
  if (mode.rfind("exit:", 0) == 0) return std::atoi(mode.c_str() + 5);
  if (mode == "crash") {
    // Past any handler a sanitizer may have installed.
    ::signal(SIGSEGV, SIG_DFL);
    ::raise(SIGSEGV);
  }
  if (mode == "sleep") {
    for (;;) ::pause();
  }
  return 99;
}

class InterpreterRunsTest : public testing::InterpreterStageTest {
 protected:
  std::string FakeArgs() const { return testing::ReadFileBytes(folder_.out() / "fake_args.txt"); }
};

TEST(QuoteArgumentTest, SurvivesTheCommandLineSplitUnchanged) {
  const std::string texts[] = {"",           "/srv/in/a b.pcl", "50% off", "say \"hi\"",
                               "ends with\\", "a\\\\\"b",        "\\\\",    "tab\tin"};
  for (const std::string& text : texts) {
    const std::vector<std::string> split = SplitCommandLine("-q " + QuoteArgument(text) + " x");
    ASSERT_EQ(split.size(), 3u) << text;
    EXPECT_EQ(split[1], text);
  }
  EXPECT_EQ(QuoteArgument("/srv/in/a b.pcl"), "\"/srv/in/a b.pcl\"");
}

TEST_F(InterpreterRunsTest, PassesDashQAndEntriesAfterTheProgramSlot) {
  folder_.WriteSettings("IsLog=1\n");
  struct Member {
    const char* interpreter;
    int (Job::*convert)();
    const char* word;
  };
  const Member members[] = {{"gs", &Job::ConvertPs, "PS"},
                            {"gpcl6", &Job::ConvertPcl, "PCL"},
                            {"gxps", &Job::ConvertXps, "XPS"}};
  for (const Member& member : members) {
    SCOPED_TRACE(member.interpreter);
    FakeInterpreter fake(folder_, member.interpreter, "args");
    Job job;
    job.FilePathA = "/in/job one.prn";
    const std::string quoted = "\"/in/job one.prn\"";
    const char* argv[] = {"ps2pdf", "-dNOPAUSE", "-sOutputFile=\"/out/a b_%d.png_\"",
                          quoted.c_str()};
    for (const char* entry : argv) job.Argv[job.Argc++] = entry;
    EXPECT_EQ((job.*member.convert)(), 1);
    // "-q" stands where Windows expects the program name.
    EXPECT_EQ(FakeArgs(), "[-q][-dNOPAUSE][-sOutputFile=/out/a b_%d.png_][/in/job one.prn]");
    ASSERT_FALSE(LogMessages(folder_).empty());
    EXPECT_EQ(LogMessages(folder_).back(),
              std::string("Converting ") + member.word + " file /in/job one.prn OK");
  }
}

TEST_F(InterpreterRunsTest, EveryFailureIsLoggedWithItsCode) {
  folder_.WriteSettings("IsLog=1\nWaitSeconds=10\n");
  struct Case {
    const char* mode;  // empty: the interpreter is missing
    const char* code;
  };
  const Case cases[] = {{"exit:3", "3"}, {"crash", "139"}, {"", "-1"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    FakeInterpreter fake(folder_, "gpcl6", c.mode);
    Job job;
    job.FilePathA = "/in/x.pcl";
    job.Argv[0] = "ps2pdf";
    job.Argc = 1;
    EXPECT_EQ(job.ConvertPcl(), 0);
    EXPECT_EQ(LogMessages(folder_).back(),
              std::string("Converting PCL file /in/x.pcl ERROR (") + c.code + ")");
  }
}

TEST_F(InterpreterRunsTest, WritesNoLogWhenLoggingIsOff) {
  FakeInterpreter fake(folder_, "gxps", "exit:1");
  Job job;
  job.Argc = 0;
  EXPECT_EQ(job.ConvertXps(), 0);
  EXPECT_FALSE(std::filesystem::exists(folder_.log()));
}

}  // namespace
}  // namespace quillaro

int main(int argc, char** argv) {
  if (const char* mode = std::getenv(quillaro::testing::kFakeModeVariable)) {
    return quillaro::RunFakeInterpreter(mode, argc, argv);
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

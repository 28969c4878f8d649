#ifndef QUILLARO_TESTS_INTERP_INTERP_FIXTURE_H_
#define QUILLARO_TESTS_INTERP_INTERP_FIXTURE_H_

#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "config/text_utils.h"
#include "platform/module_path.h"
#include "support/corpus.h"
#include "support/service_folder.h"
#include "support/temp_dir.h"

// Shared by the interpreter-run tests: the test program's folder plays the
// service folder with the real gs, gpcl6 and gxps beside it. The program
// doubles as a fake interpreter for the failures real ones do not produce on
// demand (a crash, a run that never ends): see FakeInterpreter.

namespace quillaro::testing {

// Environment variable that makes this test program act as an interpreter.
inline constexpr char kFakeModeVariable[] = "QUILLARO_FAKE_INTERPRETER";
// Where the fake interpreter records the arguments it received.
inline constexpr char kFakeArgsFileVariable[] = "QUILLARO_FAKE_ARGS_FILE";

// Replaces the interpreter `name` ("gs", "gpcl6", "gxps") in the service
// folder for its lifetime: with nothing when `mode` is empty, else with this
// test program in fake mode `mode` ("args", "crash", "sleep", "exit:N").
// Several may be active at once, but only one in mode "args".
class FakeInterpreter {
 public:
  FakeInterpreter(const ServiceFolder& folder, const std::string& name, const std::string& mode)
      : link_(folder.root() / name), saved_(folder.root() / (name + ".real")) {
    std::filesystem::rename(link_, saved_);
    if (mode == "args") {
      // A link keeps the program name the runner passes, which is the point.
      std::filesystem::create_symlink(*ExecutablePath(), link_);
      ::setenv(kFakeModeVariable, mode.c_str(), 1);
      // Interpreters may only write in in/, out/ and their scratch folder.
      ::setenv(kFakeArgsFileVariable, (folder.out() / "fake_args.txt").c_str(), 1);
      args_file_ = folder.out() / "fake_args.txt";
    } else if (!mode.empty()) {
      WriteFileBytes(link_, "#!/bin/sh\nexport " + std::string(kFakeModeVariable) + "='" +
                                mode + "'\nexec '" + *ExecutablePath() + "' \"$@\"\n");
      std::filesystem::permissions(link_, std::filesystem::perms::owner_all);
    }
  }
  FakeInterpreter(const FakeInterpreter&) = delete;
  FakeInterpreter& operator=(const FakeInterpreter&) = delete;
  ~FakeInterpreter() {
    std::error_code error;
    if (!args_file_.empty()) {
      ::unsetenv(kFakeModeVariable);
      std::filesystem::remove(args_file_, error);
    }
    std::filesystem::remove(link_, error);
    std::filesystem::rename(saved_, link_, error);
  }

 private:
  std::filesystem::path link_;
  std::filesystem::path saved_;
  std::filesystem::path args_file_;  // set in mode "args"
};

// The messages of log.txt (UTF-16LE: banner, then "time TAB message CR LF"),
// narrowed, in order.
inline std::vector<std::string> LogMessages(const ServiceFolder& folder) {
  const std::string bytes = ReadFileBytes(folder.log());
  std::u16string text;
  for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
    text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                         static_cast<unsigned char>(bytes[i + 1]) << 8));
  }
  std::vector<std::string> messages;
  size_t start = 0;
  for (size_t end = text.find(u"\r\n"); end != std::u16string::npos;
       start = end + 2, end = text.find(u"\r\n", start)) {
    const std::u16string line = text.substr(start, end - start);
    const size_t tab = line.find(u'\t');
    if (tab != std::u16string::npos) messages.push_back(ToNarrow(line.substr(tab + 1)));
  }
  return messages;
}

// The service folder, cleaned, with settings for an interpreter stage.
class InterpreterStageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.HasInterpreters()) << "gs, gpcl6 and gxps must lie beside the test";
    // gpcl6 finds its fonts in urwfonts/ of the working folder.
    std::filesystem::current_path(folder_.root());
  }

  // Copies the corpus job `corpus_name` into in/ as `as_name` (the same
  // name when empty) and returns its path.
  std::string StageCorpusJob(const std::string& corpus_name, const std::string& as_name = "") {
    const std::string source = CorpusPath(corpus_name);
    if (source.empty()) return std::string();
    const std::filesystem::path target =
        folder_.in() / (as_name.empty() ? corpus_name : as_name);
    std::filesystem::copy_file(source, target, std::filesystem::copy_options::overwrite_existing);
    return target.string();
  }

  std::string StageJob(const std::string& name, const std::string& bytes) {
    WriteFileBytes(folder_.in() / name, bytes);
    return (folder_.in() / name).string();
  }

  std::string OutFile(const std::string& name) const { return ReadFileBytes(folder_.out() / name); }
  bool OutExists(const std::string& name) const {
    return std::filesystem::exists(folder_.out() / name);
  }

  ServiceFolder folder_;
};

// A PostScript job of `pages` pages, each with a diagonal stroke.
inline std::string PostScriptPages(int pages) {
  return "%!PS\n1 1 " + std::to_string(pages) +
         " { pop newpath 100 100 moveto 200 300 lineto stroke showpage } for\n";
}

}  // namespace quillaro::testing

#endif  // QUILLARO_TESTS_INTERP_INTERP_FIXTURE_H_

// Faults around the service, each with its outcome: interpreters missing,
// crashing or hanging; out/ gone or not a folder; settings.ini unreadable or
// garbage; in/ deleted and made anew; the service killed in the middle of a
// job and started again.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "service_process.h"
#include "support/corpus.h"
#include "support/temp_dir.h"

namespace quillaro::testing {
namespace {

namespace fs = std::filesystem;

// log.txt as narrow text: its lines are UTF-16LE, and what the tests look
// for is ASCII, so the zero bytes can go.
std::string ReadLog(const ServiceProcess& service) {
  std::string log = ReadFileBytes(service.root() / "log.txt");
  std::erase(log, '\0');
  return log;
}

// Waits until log.txt holds `text`.
bool WaitForLog(const ServiceProcess& service, const std::string& text, int timeout_seconds) {
  for (int i = 0; i < timeout_seconds * 20; ++i) {
    if (ReadLog(service).find(text) != std::string::npos) return true;
    Pause(50);
  }
  return false;
}

// Number of processes whose command line holds `argument` as one argument.
int CountProcessesWithArgument(const std::string& argument) {
  int count = 0;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator("/proc", error)) {
    const std::string cmdline = ReadFileBytes(entry.path() / "cmdline");
    if (cmdline.find(std::string(1, '\0') + argument + '\0') != std::string::npos) ++count;
  }
  return count;
}

// Replaces the service's gs with a shell script.
void ReplaceGs(const ServiceProcess& service, const std::string& script) {
  fs::remove(service.root() / "gs");
  WriteFileBytes(service.root() / "gs", "#!/bin/sh\n" + script + "\n");
  fs::permissions(service.root() / "gs", fs::perms::owner_all);
}

TEST(ServiceFaultsTest, MissingCrashingAndHangingInterpretersFailTheJobOnly) {
  ServiceProcess service("IsConvert=1\nType=0\nWaitSeconds=10\nIsLog=1\n");
  ASSERT_TRUE(service.Start()) << service.Errors();
  const std::string pdf = CorpusPath("a4_3pages.pdf");
  ASSERT_FALSE(pdf.empty());
  const fs::path real_gs = fs::read_symlink(service.root() / "gs");

  struct Case {
    const char* name;
    const char* script;  // nullptr: no gs at all
    const char* logged;
  } cases[] = {
      {"missing.pdf", nullptr, "missing.pdf ERROR ("},
      {"crash.pdf", "kill -SEGV $$", "crash.pdf ERROR (139)"},
      {"hang.pdf", "exec sleep 37.25", "hang.pdf ERROR (123)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.script == nullptr) {
      fs::remove(service.root() / "gs");
    } else {
      ReplaceGs(service, c.script);
    }
    CopyIn(pdf, service, c.name);
    EXPECT_TRUE(WaitForFile(service.out() / (std::string(c.name) + "_done"), 60));
    EXPECT_NE(ReadLog(service).find(c.logged), std::string::npos) << ReadLog(service);
    EXPECT_FALSE(fs::exists(service.out() / (Stem(c.name) + "_papersize.txt")));
  }
  // The hung interpreter was killed with its process group.
  EXPECT_EQ(CountProcessesWithArgument("37.25"), 0);

  fs::remove(service.root() / "gs");
  fs::create_symlink(real_gs, service.root() / "gs");
  CopyIn(pdf, service, "healthy.pdf");
  EXPECT_TRUE(WaitForFile(service.out() / "healthy.pdf_done", 60));
  EXPECT_EQ(ReadFileBytes(service.out() / "healthy_pagescount.txt"), "3");
  EXPECT_EQ(service.Stop(), 0);
}

TEST(ServiceFaultsTest, WithoutAnOutFolderJobsLeaveNoTraceUntilItIsBack) {
  ServiceProcess service("IsConvert=1\nType=1\nIsLog=1\n");
  ASSERT_TRUE(service.Start()) << service.Errors();
  const std::string pdf = CorpusPath("letter_2pages.pdf");
  ASSERT_FALSE(pdf.empty());

  // out/ missing: the job runs, its results and marker are lost; the service
  // does not make the folder (it belongs to whoever installed the service).
  fs::remove_all(service.out());
  CopyIn(pdf, service, "no_out.pdf");
  ASSERT_TRUE(WaitForLog(service, "no_out.pdf", 60));
  // out is a file: nothing is written into it or beside it.
  WriteFileBytes(service.out(), "not a folder");
  CopyIn(pdf, service, "out_file.pdf");
  ASSERT_TRUE(WaitForLog(service, "out_file.pdf", 60));
  // The marker is the job's last step: one more job through, so that both
  // have ended.
  CopyIn(pdf, service, "sync.pdf");
  ASSERT_TRUE(WaitForLog(service, "sync.pdf", 60));
  Pause(1000);
  EXPECT_EQ(ReadFileBytes(service.out()), "not a folder");
  EXPECT_TRUE(fs::is_regular_file(service.out()));

  fs::remove(service.out());
  fs::create_directory(service.out());
  CopyIn(pdf, service, "back.pdf");
  EXPECT_TRUE(WaitForFile(service.out() / "back.pdf_done", 60));
  EXPECT_EQ(ReadFileBytes(service.out() / "back_pagescount.txt"), "2");
  EXPECT_TRUE(fs::exists(service.out() / "back_1.jpg"));
  EXPECT_EQ(CountEndingWith(service.out(), "_done"), 1);
  EXPECT_EQ(CountEndingWith(service.root(), ".jpg") + CountEndingWith(service.root(), ".png"), 0);
  EXPECT_EQ(service.Stop(), 0);
}

TEST(ServiceFaultsTest, UnreadableOrGarbageSettingsMeanTheDefaults) {
  ServiceProcess service("IsConvert=1\n");
  ASSERT_TRUE(service.Start()) << service.Errors();
  const std::string pdf = CorpusPath("a4_3pages.pdf");
  ASSERT_FALSE(pdf.empty());
  // The defaults convert nothing: the marker alone.
  struct Case {
    const char* name;
    void (*make)(const fs::path& settings);
  } cases[] = {
      {"settings_folder.pdf",
       [](const fs::path& settings) {
         fs::remove(settings);
         fs::create_directory(settings);
       }},
      {"settings_garbage.pdf",
       [](const fs::path& settings) {
         fs::remove_all(settings);
         std::string garbage;
         for (int i = 0; i < 100000; ++i) garbage += static_cast<char>((i * 7919) % 256);
         WriteFileBytes(settings, "[Settings\nIsConvert\n=1\n" + garbage);
       }},
      {"settings_missing.pdf", [](const fs::path& settings) { fs::remove_all(settings); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    c.make(service.root() / "settings.ini");
    CopyIn(pdf, service, c.name);
    EXPECT_TRUE(WaitForFile(service.out() / (std::string(c.name) + "_done"), 60));
    EXPECT_FALSE(fs::exists(service.out() / (Stem(c.name) + "_pagescount.txt")));
  }
  service.WriteSettings("IsConvert=1\n");
  CopyIn(pdf, service, "settings_back.pdf");
  EXPECT_TRUE(WaitForFile(service.out() / "settings_back.pdf_done", 60));
  EXPECT_EQ(ReadFileBytes(service.out() / "settings_back_pagescount.txt"), "3");
  EXPECT_EQ(service.Stop(), 0);
}

TEST(ServiceFaultsTest, AnInFolderDeletedOrMovedAwayIsWatchedAgainWhenMadeAnew) {
  ServiceProcess service("IsConvert=0\n");
  ASSERT_TRUE(service.Start()) << service.Errors();
  WriteFileBytes(service.in() / "first.pcl", "\x1b" "E");
  ASSERT_TRUE(WaitForFile(service.out() / "first.pcl_done", 30));

  // Deleted, then made anew; a job dropped at once is found by the rescan
  // that follows the new watch, one dropped later by the watch itself.
  fs::remove_all(service.in());
  Pause(200);
  fs::create_directory(service.in());
  WriteFileBytes(service.in() / "early.pcl", "\x1b" "E");
  EXPECT_TRUE(WaitForFile(service.out() / "early.pcl_done", 30));
  WriteFileBytes(service.in() / "late.pcl", "\x1b" "E");
  EXPECT_TRUE(WaitForFile(service.out() / "late.pcl_done", 30));

  // Moved away: what lands in the old folder under its new name is not a
  // job; the new in/ is watched.
  fs::rename(service.in(), service.root() / "in_old");
  fs::create_directory(service.in());
  Pause(1500);
  WriteFileBytes(service.root() / "in_old" / "stray.pcl", "\x1b" "E");
  WriteFileBytes(service.in() / "moved.pcl", "\x1b" "E");
  EXPECT_TRUE(WaitForFile(service.out() / "moved.pcl_done", 30));
  Pause(500);
  EXPECT_FALSE(fs::exists(service.out() / "stray.pcl_done"));
  EXPECT_EQ(service.Stop(), 0);
}

TEST(ServiceFaultsTest, KilledInTheMiddleOfAJobItStartsAgainCleanly) {
  ServiceProcess service("IsConvert=1\nType=0\nWaitSeconds=60\n");
  const fs::path real_gs = fs::read_symlink(service.root() / "gs");
  ReplaceGs(service, "exec sleep 41.75");
  ASSERT_TRUE(service.Start()) << service.Errors();
  const std::string pdf = CorpusPath("a4_3pages.pdf");
  ASSERT_FALSE(pdf.empty());
  CopyIn(pdf, service, "killed.pdf");
  for (int i = 0; i < 200 && CountProcessesWithArgument("41.75") == 0; ++i) Pause(50);
  ASSERT_EQ(CountProcessesWithArgument("41.75"), 1);

  service.Kill();
  ASSERT_TRUE(service.Exited());
  // The interpreter dies with the service.
  for (int i = 0; i < 40 && CountProcessesWithArgument("41.75") > 0; ++i) Pause(50);
  EXPECT_EQ(CountProcessesWithArgument("41.75"), 0);

  fs::remove(service.root() / "gs");
  fs::create_symlink(real_gs, service.root() / "gs");
  ASSERT_TRUE(service.Start()) << service.Errors();
  // The lock of the killed service is free: the next job runs at once. The
  // interrupted job stays in in/ unprocessed (files present at start are
  // not dispatched).
  CopyIn(pdf, service, "after.pdf");
  EXPECT_TRUE(WaitForFile(service.out() / "after.pdf_done", 30));
  EXPECT_EQ(ReadFileBytes(service.out() / "after_pagescount.txt"), "3");
  EXPECT_TRUE(fs::exists(service.in() / "killed.pdf"));
  EXPECT_FALSE(fs::exists(service.out() / "killed.pdf_done"));
  EXPECT_EQ(service.Stop(), 0);
}

}  // namespace
}  // namespace quillaro::testing

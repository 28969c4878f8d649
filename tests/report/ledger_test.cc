// The ledger: every report's figures in one transaction, from many writers at once and through
// writer processes killed mid-write; and quillaro-report's totals and CSV read back from it.
// The same tests run on Linux and under Wine, where they check SQLite's Windows file locking.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "config/text_utils.h"
#include "platform/cancellation.h"
#include "platform/child_process.h"
#include "platform/event.h"
#include "platform/module_path.h"
#include "platform/private_folder.h"
#include "report/ledger.h"
#include "support/temp_dir.h"

namespace quillaro::testing {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

Json Report(const std::string& name, const std::string& user, const std::string& received,
            int copies) {
  Json report = Json::parse(R"({"job": "", "job_id": null, "received": ")" + received +
                     R"(", "language": "PS", "user": {"value": "", "source": "dsc_for"}, "job_name": null, "title": null, "copies": )" +
                     std::to_string(copies) + R"(, "duplex": "long_edge", "page_count": 3,
      "job_totals": {"copies": 1, "impressions": )" + std::to_string(3 * copies) +
                     R"(, "sheets": )" + std::to_string(2 * copies) + R"(, "partial": false,
        "by_size": [{"size": "A4", "size_class": "a4", "colour": "colour", "impressions": )" +
                     std::to_string(copies) + R"(, "sheets": )" + std::to_string(copies) + R"(},
                    {"size": "A3", "size_class": "a3", "colour": "mono", "impressions": )" +
                     std::to_string(2 * copies) + R"(, "sheets": )" + std::to_string(copies) +
                     R"(}]}, "failure": null})");
  report["job"] = name;
  report["user"]["value"] = user;
  return report;
}

// "prefix" followed by the numbers, built piece by piece: GCC 12 sees a false overlap
// (-Wrestrict) in "..." + std::to_string(n).
std::string Named(const char* prefix, int a, int b = -1) {
  std::string name(prefix);
  name.append(std::to_string(a));
  if (b >= 0) name.append("_").append(std::to_string(b));
  return name;
}

// One number a query gives.
long long Scalar(const std::string& path, const std::string& sql) {
  sqlite3* database = nullptr;
  EXPECT_EQ(sqlite3_open_v2(path.c_str(), &database, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt* statement = nullptr;
  long long value = -1;
  if (sqlite3_prepare_v2(database, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK &&
      sqlite3_step(statement) == SQLITE_ROW) {
    value = sqlite3_column_int64(statement, 0);
  }
  sqlite3_finalize(statement);
  sqlite3_close(database);
  return value;
}

// The text a query gives.
std::string Text(const std::string& path, const std::string& sql) {
  sqlite3* database = nullptr;
  EXPECT_EQ(sqlite3_open_v2(path.c_str(), &database, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt* statement = nullptr;
  std::string value;
  if (sqlite3_prepare_v2(database, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK &&
      sqlite3_step(statement) == SQLITE_ROW) {
    value = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
  }
  sqlite3_finalize(statement);
  sqlite3_close(database);
  return value;
}

TEST(LedgerTest, WritersAtOnceEachGetTheirRowsAndAFailedWriteLeavesNone) {
  TempDir dir;
  const std::string ledger = dir.File("ledger.db");
  constexpr int kThreads = 4, kJobsEach = 25;
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int j = 0; j < kJobsEach; ++j) {
        std::string error;
        if (!RecordInLedger(ledger, Report(Named("t", t, j), Named("user", t),
                                           "2026-12-01T10:00:00Z", 1),
                            &error)) {
          ++failures;
          ADD_FAILURE() << error;
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(Scalar(ledger, "SELECT COUNT(*) FROM jobs"), kThreads * kJobsEach);
  EXPECT_EQ(Scalar(ledger, "SELECT COUNT(*) FROM job_sizes"), 2 * kThreads * kJobsEach);
  EXPECT_EQ(Scalar(ledger, "SELECT SUM(impressions) FROM jobs"), 3 * kThreads * kJobsEach);

  // A size row the table refuses (no size) undoes the job row written before it.
  Json broken = Report("broken", "mallory", "2026-12-01T11:00:00Z", 1);
  broken["job_totals"]["by_size"][1].erase("size");
  std::string error;
  EXPECT_FALSE(RecordInLedger(ledger, broken, &error));
  EXPECT_NE(error.find("size row"), std::string::npos) << error;
  EXPECT_EQ(Scalar(ledger, "SELECT COUNT(*) FROM jobs WHERE name = 'broken'"), 0);
  EXPECT_EQ(Scalar(ledger, "SELECT COUNT(*) FROM job_sizes"), 2 * kThreads * kJobsEach);
}

TEST(LedgerTest, ALinkPlantedUnderItsNameIsNotFollowed) {
#ifdef _WIN32
  GTEST_SKIP() << "SQLite refuses links (SQLITE_OPEN_NOFOLLOW) on Unix only; on Windows the "
                  "ledger's folder is writable by the service and administrators alone";
#endif
  TempDir dir;
  std::string error;
  fs::create_symlink(dir.path() / "elsewhere.db", dir.path() / "planted.db");
  EXPECT_FALSE(RecordInLedger(dir.File("planted.db"), Report("x", "y", "", 1), &error));
  EXPECT_FALSE(fs::exists(dir.path() / "elsewhere.db"));
}

// Runs ledger_writer (tests/report/ledger_writer.cc) through the service's own process runner,
// as an interpreter runs, writing into `ledger` in its private folder `folder`, until `stop` is
// set; then the runner kills it wherever it is.
std::thread StartWriter(const PrivateFolder& folder, const std::string& ledger,
                        const std::string& name, const ManualResetEvent& stop) {
  return std::thread([&folder, ledger, name, &stop] {
    ScopedCancellation cancellation(stop);
    const std::string writer = ModuleFolder() + kPathSeparator + "ledger_writer" +
#ifdef _WIN32
                               ".exe";
#else
                               "";
#endif
    std::string output;
    ProcessRunner::Options options;
    options.private_folder = folder.path();
    OsError error;
    const int code =
        ProcessRunner::Run(ToWide(writer),
                           ToWide("ledger_writer \"" + ledger + "\" " + name),
                           output, 60, &error, options);
    // Only the kill ends it.
    EXPECT_EQ(code, ProcessRunner::kTimedOut) << error.ToString() << output;
  });
}

// Whether the ledger already holds a job whose name begins with `prefix` (two characters): its
// writer got that far.
bool HasJobsOf(const std::string& path, const std::string& prefix) {
  sqlite3* database = nullptr;
  bool found = false;
  if (sqlite3_open_v2(path.c_str(), &database, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    const std::string sql = "SELECT 1 FROM jobs WHERE substr(name, 1, 2) = '" + prefix + "'";
    sqlite3_stmt* statement = nullptr;
    found = sqlite3_prepare_v2(database, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK &&
            sqlite3_step(statement) == SQLITE_ROW;
    sqlite3_finalize(statement);
  }
  sqlite3_close(database);
  return found;
}

// Writer processes killed at any moment, two at a time, leave a sound database in which every
// job has all its rows.
TEST(LedgerTest, WritersKilledMidWriteLeaveWholeJobsOnly) {
  OsError error;
  const std::unique_ptr<PrivateFolder> dir = PrivateFolder::Make(&error);
  ASSERT_TRUE(dir) << error.ToString();
  const std::string ledger = dir->path() + kPathSeparator + "ledger.db";
  for (int round = 0; round < 5; ++round) {
    ManualResetEvent stop;
    std::thread first = StartWriter(*dir, ledger, Named("a", round), stop);
    std::thread second = StartWriter(*dir, ledger, Named("b", round), stop);
    // Killed a little later each round once both have a job in: a process takes from a few
    // to several hundred milliseconds to start (under Wine), which no fixed wait knows.
    for (int wait = 0; wait < 600 && !(HasJobsOf(ledger, Named("a", round)) &&
                                       HasJobsOf(ledger, Named("b", round)));
         ++wait) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(37 * round));
    stop.Set();
    first.join();
    second.join();
  }
  sqlite3* database = nullptr;
  ASSERT_EQ(sqlite3_open(ledger.c_str(), &database), SQLITE_OK);
  sqlite3_stmt* statement = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(database, "PRAGMA integrity_check", -1, &statement, nullptr),
            SQLITE_OK);
  ASSERT_EQ(sqlite3_step(statement), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)), "ok");
  sqlite3_finalize(statement);
  sqlite3_close(database);
  // Both writers of every round wrote, at the same time, through WAL's shared index.
  EXPECT_EQ(Scalar(ledger, "SELECT COUNT(DISTINCT substr(name, 1, 2)) FROM jobs"), 10);
  EXPECT_EQ(Text(ledger, "PRAGMA journal_mode"), "wal");
  EXPECT_EQ(Scalar(ledger, "SELECT COUNT(*) FROM jobs j WHERE (SELECT COUNT(*) FROM job_sizes s "
                           "WHERE s.job = j.id) <> 2"),
            0);
}

// "text" quoted for the shell (cmd.exe on Windows); the paths here have no quote of their own.
std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::string RunTool(const std::string& arguments) {
  const fs::path tool = fs::path(ModuleFolder()).parent_path().parent_path() / "quillaro-report";
  TempDir dir;
  std::string command = Quoted(tool.string()) + " " + arguments + " >" + Quoted(dir.File("out"));
#ifdef _WIN32
  // cmd /c takes off the first and the last quote of a line that has more than two.
  command = Quoted(command);
#endif
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  return ReadFileBytes(dir.path() / "out");
}

TEST(LedgerToolTest, TotalsByUserDayAndSizeAndOneCleanCsvRowPerJob) {
  TempDir dir;
  const std::string ledger = dir.File("ledger.db");
  std::string error;
  ASSERT_TRUE(RecordInLedger(ledger, Report("=HYPERLINK(\"http://x\")", "alice",
                                            "2026-12-01T09:00:00Z", 1), &error)) << error;
  ASSERT_TRUE(RecordInLedger(ledger, Report("b.ps", "@bob", "2026-12-01T10:00:00Z", 2), &error));
  ASSERT_TRUE(RecordInLedger(ledger, Report("c.ps", "alice", "2026-12-03T10:00:00Z", 3), &error));

  const std::string csv = RunTool("--ledger " + Quoted(ledger) + " --csv --from 2026-12-01 --to 2026-12-02");
  EXPECT_EQ(csv,
            "received,job,job_id,user,job_name,title,language,copies,duplex,pages,impressions,"
            "sheets,a4_colour,a4_mono,a3_colour,a3_mono,other_colour,other_mono,partial,failure\r\n"
            "2026-12-01T09:00:00Z,\"'=HYPERLINK(\"\"http://x\"\")\",,alice,,,PS,1,long_edge,3,3,2,"
            "1,0,0,2,0,0,0,\r\n"
            "2026-12-01T10:00:00Z,b.ps,,'@bob,,,PS,2,long_edge,3,6,4,2,0,0,4,0,0,0,\r\n");
  const std::string with_total = RunTool("--ledger " + Quoted(ledger) + " --csv --totals");
  EXPECT_TRUE(with_total.ends_with("c.ps,,alice,,,PS,3,long_edge,3,9,6,3,0,0,6,0,0,0,\r\n"
                                   ",TOTAL,,,,,,,,,18,12,6,0,0,12,0,0,,\r\n"))
      << with_total;

  const std::string totals = RunTool("--ledger " + Quoted(ledger) + " --from 2026-12-03");
  EXPECT_EQ(totals,
            "USER   JOBS  IMPRESSIONS  SHEETS\nalice     1            9       6\n\n"
            "DAY         JOBS  IMPRESSIONS  SHEETS\n2026-12-03     1            9       6\n\n"
            "SIZE  CLASS  COLOUR  IMPRESSIONS  SHEETS\nA3    a3     mono              6       3\n"
            "A4    a4     colour            3       3\n");
}

}  // namespace
}  // namespace quillaro::testing

#include "report/ledger.h"

#include <sqlite3.h>

#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <memory>

#include "platform/code_page.h"
#include "platform/module_path.h"
#include "platform/monotonic_clock.h"
#include "report/sqlite_handles.h"

namespace quillaro {
namespace {

using json = nlohmann::ordered_json;

constexpr int kBusyTimeoutMs = 10000;

using Database = SqliteDatabase;
using Statement = SqliteStatement;

// Rolls back a transaction that was not committed.
class Transaction {
 public:
  explicit Transaction(sqlite3* database) : database_(database) {}
  ~Transaction() {
    if (!committed_) sqlite3_exec(database_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  void Committed() { committed_ = true; }

 private:
  sqlite3* database_;
  bool committed_ = false;
};

// A report value into a statement's parameter: text, a whole number, or
// NULL for anything else (a value the report does not know).
void Bind(sqlite3_stmt* statement, int index, const json& value) {
  if (value.is_string()) {
    const std::string& text = value.get_ref<const std::string&>();
    sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()),
                      SQLITE_TRANSIENT);
  } else if (value.is_number_integer()) {
    sqlite3_bind_int64(statement, index, value.get<sqlite3_int64>());
  } else {
    sqlite3_bind_null(statement, index);
  }
}

const json& Field(const json& object, const char* key) {
  static const json kNull;
  if (!object.is_object()) return kNull;
  const auto found = object.find(key);
  return found == object.end() ? kNull : *found;
}

}  // namespace

std::string LedgerPath() { return StateFolder() + kPathSeparator + kLedgerFileName; }

bool RecordInLedger(const std::string& path, const json& report, std::string* error) {
  sqlite3* opened = nullptr;
  const int open_code = sqlite3_open_v2(NarrowToUtf8(path).c_str(), &opened,
                                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE |
                                            SQLITE_OPEN_FULLMUTEX | SQLITE_OPEN_NOFOLLOW,
                                        nullptr);
  Database database(opened);
  auto fail = [&](const char* what) {
    *error = std::string(what) + ": " +
             (database ? sqlite3_errmsg(database.get()) : sqlite3_errstr(open_code));
    return false;
  };
  if (open_code != SQLITE_OK) return fail("cannot open the ledger");
  sqlite3_busy_timeout(database.get(), kBusyTimeoutMs);
  auto run = [&](const char* sql) {
    return sqlite3_exec(database.get(), sql, nullptr, nullptr, nullptr) == SQLITE_OK;
  };
  // WAL: readers never block the writer, and a crash mid-write leaves the
  // last committed state. NORMAL sync is durable at every checkpoint and
  // never corrupts; a power cut may lose the last jobs' rows, not the file.
  //
  // Turning a new database to WAL takes its write lock from within a read,
  // and SQLite then answers "busy" at once rather than wait (waiting could
  // deadlock): writers that find the ledger new together try again. Seen in
  // 2 of 20 runs of four threads under Wine, whose file locks are slower.
  const uint64_t started_ms = MonotonicMilliseconds();
  int setup_code;
  while ((setup_code = sqlite3_exec(database.get(),
                                    "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;",
                                    nullptr, nullptr, nullptr)) == SQLITE_BUSY &&
         MonotonicMilliseconds() - started_ms < kBusyTimeoutMs) {
    sqlite3_sleep(10);
  }
  if (setup_code != SQLITE_OK) return fail("cannot set up the ledger");
  if (!run("BEGIN IMMEDIATE")) return fail("cannot lock the ledger");
  Transaction transaction(database.get());
  if (!run(kLedgerSchema)) return fail("cannot create the ledger's tables");
  auto prepare = [&](const char* sql) {
    sqlite3_stmt* prepared = nullptr;
    sqlite3_prepare_v2(database.get(), sql, -1, &prepared, nullptr);
    return Statement(prepared);
  };

  const Statement job = prepare(
      "INSERT INTO jobs(job_id, name, received, user, user_source, job_name, title, language,"
      " copies, duplex, page_count, impressions, sheets, partial, failure)"
      " VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
  if (!job) return fail("cannot prepare the job row");
  const json& totals = Field(report, "job_totals");
  const json& user = Field(report, "user");
  const json partial = Field(totals, "partial") == json(false) ? 0 : 1;
  const json* const job_columns[] = {&Field(report, "job_id"),
                                     &Field(report, "job"),
                                     &Field(report, "received"),
                                     &Field(user, "value"),
                                     &Field(user, "source"),
                                     &Field(Field(report, "job_name"), "value"),
                                     &Field(Field(report, "title"), "value"),
                                     &Field(report, "language"),
                                     &Field(report, "copies"),
                                     &Field(report, "duplex"),
                                     &Field(report, "page_count"),
                                     &Field(totals, "impressions"),
                                     &Field(totals, "sheets"),
                                     &partial,
                                     &Field(report, "failure")};
  for (size_t i = 0; i < std::size(job_columns); ++i)
    Bind(job.get(), static_cast<int>(i + 1), *job_columns[i]);
  if (sqlite3_step(job.get()) != SQLITE_DONE) return fail("cannot write the job row");
  const sqlite3_int64 row = sqlite3_last_insert_rowid(database.get());

  const Statement size = prepare(
      "INSERT INTO job_sizes(job, size, size_class, colour, impressions, sheets)"
      " VALUES(?,?,?,?,?,?)");
  if (!size) return fail("cannot prepare the size rows");
  const json& by_size = Field(totals, "by_size");
  for (const json& entry : by_size.is_array() ? by_size : json::array()) {
    sqlite3_reset(size.get());
    sqlite3_bind_int64(size.get(), 1, row);
    int index = 2;
    for (const char* key : {"size", "size_class", "colour", "impressions", "sheets"})
      Bind(size.get(), index++, Field(entry, key));
    if (sqlite3_step(size.get()) != SQLITE_DONE) return fail("cannot write a size row");
  }
  if (!run("COMMIT")) return fail("cannot commit the ledger");
  transaction.Committed();
  return true;
}

}  // namespace quillaro

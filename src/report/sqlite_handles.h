#ifndef QUILLARO_REPORT_SQLITE_HANDLES_H_
#define QUILLARO_REPORT_SQLITE_HANDLES_H_

#include <sqlite3.h>

#include <memory>

namespace quillaro {

// Owners of a SQLite connection and a prepared statement: each is closed
// (finalized) when its owner goes, on every path out of the code that made
// it. Move-only; used by one thread at a time, as SQLite's own objects are.
struct SqliteDatabaseCloser {
  void operator()(sqlite3* database) const { sqlite3_close_v2(database); }
};
struct SqliteStatementFinalizer {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using SqliteDatabase = std::unique_ptr<sqlite3, SqliteDatabaseCloser>;
using SqliteStatement = std::unique_ptr<sqlite3_stmt, SqliteStatementFinalizer>;

}  // namespace quillaro

#endif  // QUILLARO_REPORT_SQLITE_HANDLES_H_

#include "report_tool/ledger_summary.h"

#include <sqlite3.h>

#include <cstdlib>
#include <memory>
#include <vector>

#include "platform/code_page.h"
#include "report/sqlite_handles.h"
#include "report_tool/aligned_table.h"
#include "report_tool/csv_cell.h"

namespace quillaro {
namespace {

using Database = SqliteDatabase;
using Statement = SqliteStatement;
using Rows = std::vector<std::vector<std::string>>;

// The range's condition on a jobs row named j; ?1 and ?2 are its bounds.
constexpr char kInRange[] =
    " (?1 = '' OR substr(j.received, 1, 10) >= ?1) AND (?2 = '' OR substr(j.received, 1, 10) <= ?2) ";

std::optional<Rows> Query(const std::string& path, const std::string& sql,
                          const LedgerRange& range, std::string* error) {
  sqlite3* opened = nullptr;
  const int code =
      sqlite3_open_v2(NarrowToUtf8(path).c_str(), &opened, SQLITE_OPEN_READONLY, nullptr);
  Database database(opened);
  sqlite3_stmt* prepared = nullptr;
  if (code != SQLITE_OK ||
      sqlite3_prepare_v2(database.get(), sql.c_str(), -1, &prepared, nullptr) != SQLITE_OK) {
    *error = path + ": " + (database ? sqlite3_errmsg(database.get()) : sqlite3_errstr(code));
    return std::nullopt;
  }
  Statement statement(prepared);
  sqlite3_busy_timeout(database.get(), 10000);
  sqlite3_bind_text(statement.get(), 1, range.from.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(statement.get(), 2, range.to.c_str(), -1, SQLITE_TRANSIENT);
  Rows rows;
  int step;
  while ((step = sqlite3_step(statement.get())) == SQLITE_ROW) {
    std::vector<std::string> row;
    for (int i = 0; i < sqlite3_column_count(statement.get()); ++i) {
      const unsigned char* text = sqlite3_column_text(statement.get(), i);
      row.emplace_back(text != nullptr ? reinterpret_cast<const char*>(text) : "");
    }
    rows.push_back(std::move(row));
  }
  if (step != SQLITE_DONE) {
    *error = path + ": " + sqlite3_errmsg(database.get());
    return std::nullopt;
  }
  return rows;
}

}  // namespace

std::optional<std::string> LedgerTotals(const std::string& path, const LedgerRange& range,
                                        std::string* error) {
  const std::string by = " FROM jobs j WHERE" + std::string(kInRange);
  const auto users = Query(path,
                           "SELECT COALESCE(j.user, '-'), COUNT(*), SUM(j.impressions), "
                           "SUM(j.sheets)" + by + "GROUP BY 1 ORDER BY 1",
                           range, error);
  if (!users) return std::nullopt;
  const auto days = Query(path,
                          "SELECT COALESCE(substr(j.received, 1, 10), '-'), COUNT(*), "
                          "SUM(j.impressions), SUM(j.sheets)" + by + "GROUP BY 1 ORDER BY 1",
                          range, error);
  if (!days) return std::nullopt;
  const auto sizes = Query(path,
                           "SELECT s.size, s.size_class, s.colour, SUM(s.impressions), "
                           "SUM(s.sheets) FROM job_sizes s JOIN jobs j ON j.id = s.job WHERE" +
                               std::string(kInRange) + "GROUP BY 1, 2, 3 ORDER BY 2, 1, 3",
                           range, error);
  if (!sizes) return std::nullopt;
  // Figures from the second column (the third after size, class, colour).
  return AlignedTable({"USER", "JOBS", "IMPRESSIONS", "SHEETS"}, *users, 1, 4) + "\n" +
         AlignedTable({"DAY", "JOBS", "IMPRESSIONS", "SHEETS"}, *days, 1, 4) + "\n" +
         AlignedTable({"SIZE", "CLASS", "COLOUR", "IMPRESSIONS", "SHEETS"}, *sizes, 3, 5);
}

std::optional<std::string> LedgerCsv(const std::string& path, const LedgerRange& range,
                                     bool with_total, std::string* error) {
  static const char* const kColumns[] = {
      "received",  "job",       "job_id",       "user",          "job_name",
      "title",     "language",  "copies",       "duplex",        "pages",
      "impressions", "sheets",  "a4_colour",    "a4_mono",       "a3_colour",
      "a3_mono",   "other_colour", "other_mono", "partial",       "failure"};
  constexpr size_t kFirstFigure = 7, kLastFigure = 17;
  std::string sql =
      "SELECT j.received, j.name, j.job_id, j.user, j.job_name, j.title, j.language, j.copies,"
      " j.duplex, j.page_count, j.impressions, j.sheets";
  for (const char* size_class : {"a4", "a3", "other"}) {
    for (const char* colour : {"colour", "mono"}) {
      sql += std::string(", COALESCE(SUM(CASE WHEN s.size_class = '") + size_class +
             "' AND s.colour = '" + colour + "' THEN s.impressions END), 0)";
    }
  }
  sql += ", j.partial, j.failure FROM jobs j LEFT JOIN job_sizes s ON s.job = j.id WHERE" +
         std::string(kInRange) + "GROUP BY j.id ORDER BY j.received, j.id";
  const auto rows = Query(path, sql, range, error);
  if (!rows) return std::nullopt;
  std::string text;
  for (const char* column : kColumns) text.append(text.empty() ? "" : ",").append(column);
  text += "\r\n";
  std::vector<long long> sums(std::size(kColumns), 0);
  for (const auto& row : *rows) {
    for (size_t i = 0; i < row.size(); ++i) {
      if (i != 0) text += ',';
      text += CsvCell(row[i]);
      if (i >= kFirstFigure && i <= kLastFigure) sums[i] += std::atoll(row[i].c_str());
    }
    text += "\r\n";
  }
  if (with_total) {
    for (size_t i = 0; i < std::size(kColumns); ++i) {
      if (i != 0) text += ',';
      if (i == 1) text += "TOTAL";
      // Copies, pages and the duplex mode do not add up across jobs.
      if (i >= kFirstFigure + 3 && i <= kLastFigure) text += std::to_string(sums[i]);
    }
    text += "\r\n";
  }
  return text;
}

}  // namespace quillaro

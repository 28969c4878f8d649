#ifndef QUILLARO_REPORT_LEDGER_H_
#define QUILLARO_REPORT_LEDGER_H_

#include <nlohmann/json.hpp>
#include <string>

namespace quillaro {

// The ledger: a SQLite database beside the service (ledger.db) that keeps
// every job report's billable figures after out/ has been cleaned. Tables:
//   jobs(id, job_id, name, received, user, user_source, job_name, title,
//        language, copies, duplex, page_count, impressions, sheets,
//        partial, failure)
//   job_sizes(job, size, size_class, colour, impressions, sheets)
// one jobs row per report and one job_sizes row per sheet name and colour
// class, with the whole job's figures (copies included).
inline constexpr char kLedgerFileName[] = "ledger.db";

// Where the service keeps its ledger: in StateFolder() (systemd's state
// folder under the unit, else beside the service on Linux; the data folder's
// ledger\ on Windows), where SQLite can also make its journal files.
std::string LedgerPath();

// Creates the tables when they are missing. Used by both writer and reader.
inline constexpr char kLedgerSchema[] =
    "CREATE TABLE IF NOT EXISTS jobs("
    " id INTEGER PRIMARY KEY, job_id TEXT, name TEXT NOT NULL, received TEXT,"
    " user TEXT, user_source TEXT, job_name TEXT, title TEXT, language TEXT,"
    " copies INTEGER NOT NULL, duplex TEXT NOT NULL, page_count INTEGER,"
    " impressions INTEGER NOT NULL, sheets INTEGER NOT NULL, partial INTEGER NOT NULL,"
    " failure TEXT);"
    "CREATE INDEX IF NOT EXISTS jobs_received ON jobs(received);"
    "CREATE TABLE IF NOT EXISTS job_sizes("
    " job INTEGER NOT NULL REFERENCES jobs(id), size TEXT NOT NULL, size_class TEXT NOT NULL,"
    " colour TEXT NOT NULL, impressions INTEGER NOT NULL, sheets INTEGER NOT NULL);"
    "CREATE INDEX IF NOT EXISTS job_sizes_job ON job_sizes(job);";

// Records `report` (a job report as BuildReportDocument makes it) in the
// ledger at `path`, all its rows in one transaction: a crash or a failure
// mid-write leaves none of them. Safe for jobs of this and other service
// processes at once: the database is in WAL mode, and a writer waits up to
// ten seconds for another's transaction. On failure returns false with
// `error` set; the database is left as it was.
bool RecordInLedger(const std::string& path, const nlohmann::ordered_json& report,
                    std::string* error);

}  // namespace quillaro

#endif  // QUILLARO_REPORT_LEDGER_H_

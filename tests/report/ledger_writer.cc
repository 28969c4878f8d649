// A writer for the ledger test: records reports into the ledger named by its first argument,
// named after its second argument and a count, without end, until it is killed.
//   ledger_writer LEDGER NAME

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "report/ledger.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  nlohmann::ordered_json report = nlohmann::ordered_json::parse(R"({
    "job": "", "received": "2026-12-01T10:00:00Z", "language": "PS",
    "user": {"value": "writer", "source": "pjl_username"}, "copies": 2, "duplex": "none",
    "page_count": 1,
    "job_totals": {"impressions": 2, "sheets": 2, "partial": false, "by_size": [
      {"size": "A4", "size_class": "a4", "colour": "mono", "impressions": 1, "sheets": 1},
      {"size": "A3", "size_class": "a3", "colour": "colour", "impressions": 1, "sheets": 1}]}})");
  for (long count = 0;; ++count) {
    report["job"] = std::string(argv[2]) + "_" + std::to_string(count);
    std::string error;
    if (!quillaro::RecordInLedger(argv[1], report, &error)) {
      std::fprintf(stderr, "ledger_writer: %s\n", error.c_str());
      return 1;
    }
  }
}

#ifndef QUILLARO_REPORT_PJL_ATTRIBUTES_H_
#define QUILLARO_REPORT_PJL_ATTRIBUTES_H_

#include <optional>
#include <string>

namespace quillaro {

// The job attributes a PJL header sets, as written (case kept, blanks
// around the value and one pair of double quotes removed). Only what the
// header holds is set.
struct PjlAttributes {
  std::optional<std::string> job_name;    // @PJL JOB NAME = "..."
  std::optional<std::string> user_name;   // @PJL SET USERNAME = ...
  std::optional<std::string> duplex;      // @PJL SET DUPLEX = ON | OFF
  std::optional<std::string> paper;       // @PJL SET PAPER = ...
  std::optional<std::string> resolution;  // @PJL SET RESOLUTION = ...

  // DUPLEX = ON (any case).
  bool duplex_on() const;
};

// The attributes of the PJL header of the job file at `path` (narrow): the
// lines after the UEL up to the first "@PJL ENTER LANGUAGE", at most 100,
// read in text mode; keywords match without regard to case, the first of
// each wins. Nothing set when the file has no UEL on its first line or
// cannot be opened. Reads at most a few kilobytes of each line.
PjlAttributes ReadPjlAttributes(const std::string& path);

}  // namespace quillaro

#endif  // QUILLARO_REPORT_PJL_ATTRIBUTES_H_

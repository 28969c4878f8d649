#ifndef QUILLARO_REPORT_PJL_ATTRIBUTES_H_
#define QUILLARO_REPORT_PJL_ATTRIBUTES_H_

#include <cstdint>
#include <optional>
#include <string>

namespace quillaro {

// The job attributes a PJL header sets, as written (case kept, blanks
// around the value and one pair of double quotes removed). Only what the
// header holds is set.
struct PjlAttributes {
  std::optional<std::string> job_name;    // @PJL JOB NAME = "..."
  std::optional<std::string> set_jobname; // @PJL SET JOBNAME = "..."
  std::optional<std::string> user_name;   // @PJL SET USERNAME = ...
  std::optional<std::string> duplex;      // @PJL SET DUPLEX = ON | OFF
  std::optional<std::string> binding;     // @PJL SET BINDING = LONGEDGE | SHORTEDGE
  std::optional<std::string> paper;       // @PJL SET PAPER = ...
  std::optional<std::string> resolution;  // @PJL SET RESOLUTION = ...
  std::optional<std::string> qty;         // @PJL SET QTY = n: collated copies of the job
  std::optional<std::string> copies;      // @PJL SET COPIES = n: copies of each page
  std::optional<std::string> rendermode;  // @PJL SET RENDERMODE = COLOR | GRAYSCALE
  std::optional<std::string> grayscale;   // @PJL SET GRAYSCALE = ON | OFF
  // HP's accounting fields, @PJL SET JOBATTR="JobAcct1=alice": JobAcct1 is
  // the user, JobAcct2 the computer, JobAcct3 the domain; the first of each.
  std::optional<std::string> job_account_user;
  std::optional<std::string> job_account_host;

  // DUPLEX = ON (any case).
  bool duplex_on() const;
  // BINDING = SHORTEDGE (any case).
  bool short_edge() const;
};

// A PJL count as the printer takes it: a whole number from 1 to 9999 with
// nothing else but blanks; none otherwise.
std::optional<int32_t> PjlCount(const std::optional<std::string>& value);

// The attributes of the PJL header of the job file at `path` (narrow): the
// lines after the UEL up to the first "@PJL ENTER LANGUAGE", at most 100,
// read in text mode; keywords match without regard to case, the first of
// each wins. Nothing set when the file has no UEL on its first line or
// cannot be opened. Reads at most a few kilobytes of each line.
PjlAttributes ReadPjlAttributes(const std::string& path);

}  // namespace quillaro

#endif  // QUILLARO_REPORT_PJL_ATTRIBUTES_H_

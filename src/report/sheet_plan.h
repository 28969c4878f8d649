#ifndef QUILLARO_REPORT_SHEET_PLAN_H_
#define QUILLARO_REPORT_SHEET_PLAN_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "imaging/page_verdict.h"
#include "report/print_intent.h"

namespace quillaro {

// One page of a job as the sheet plan sees it: the sheet size it asks for
// (a name, or "other", or none when its size is not known), its ink
// verdict (none when its pixels were not looked at), and the duplex and
// copies it is printed with.
struct PlannedPage {
  std::optional<std::string> size;
  const char* size_class = "other";  // "a4", "a3", "other"
  std::optional<InkVerdict> ink;
  DuplexMode duplex = DuplexMode::kSimplex;
  int32_t copies = 1;
};

// Where a page lands on paper.
struct PagePlacement {
  int64_t sheet = 0;  // from 1
  bool back = false;  // on the back of a duplex sheet
  // Printed on the sheet: every page but a blank back, which a driver adds
  // to start the next document or size on a fresh sheet.
  bool printed = true;
};

// Per size and colour class, for one copy of the job, each page's own copies
// included.
struct SizeClassCount {
  std::string size;    // media name or "other"; "unknown" when not known
  std::string size_class;
  std::string colour;  // "colour", "mono", "blank", "unknown"
  int64_t impressions = 0;
  int64_t sheets = 0;
};

struct SheetPlan {
  std::vector<PagePlacement> pages;
  // Each page once.
  int64_t impressions = 0;
  int64_t sheets = 0;
  // Each page as many times as its copies: a sheet is printed as many
  // times as its front page asks.
  int64_t copied_impressions = 0;
  int64_t copied_sheets = 0;
  // Sorted by size, then colour. An impression counts under its page's
  // verdict; a sheet under the size of its front and the strongest verdict
  // of its printed sides (colour over mono over blank).
  std::vector<SizeClassCount> by_size;
};

// How `pages` fall on sheets. Simplex: one page a sheet. Duplex: a page
// goes on the back of the sheet before it when that sheet has only its
// front and is of the same size, duplex mode and copies; a change of any
// of them starts a new sheet, as a printer starts a new sheet when a job
// changes duplex between pages.
SheetPlan PlanSheets(const std::vector<PlannedPage>& pages);

}  // namespace quillaro

#endif  // QUILLARO_REPORT_SHEET_PLAN_H_

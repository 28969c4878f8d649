#ifndef QUILLARO_INSPECT_PAPER_SIZES_H_
#define QUILLARO_INSPECT_PAPER_SIZES_H_

#include <cstdint>
#include <map>
#include <string>
#include <utility>

namespace quillaro {

// One entry of the paper table.
struct PaperSize {
  PaperSize() = default;
  PaperSize(std::string name, float width_mm, float height_mm)
      : Name(std::move(name)), WidthMm(width_mm), HeightMm(height_mm) {}
  PaperSize(std::string name, std::string pjl_name, float width_mm, float height_mm)
      : Name(std::move(name)), PjlName(std::move(pjl_name)), WidthMm(width_mm),
        HeightMm(height_mm) {}

  std::string Name = "Unknown";      // written to the result file
  std::string PjlName = "UNKNOWN";   // what "@PJL SET PAPER" selects it by
  float WidthMm = 0;
  float HeightMm = 0;
};

// Ordered by key; iteration is in ascending key order.
using PaperTable = std::map<int32_t, PaperSize>;

// Empties `table` and fills it with the 77 known paper sizes, keys 0 to 76.
void FillPaperTable(PaperTable& table);

// Empties `result` and fills it with the entries whose size fits the measured
// `width_mm` x `height_mm`, widening the tolerance by `step_mm` until
// something fits. Afterwards `result` is never empty ("Unknown" at worst).
// `step_mm` should be positive (page measurement passes 5); a step that does
// not widen the tolerance ends the search after one walk.
void MatchPaperSizes(PaperTable& result, float width_mm, float height_mm, float step_mm);

}  // namespace quillaro

#endif  // QUILLARO_INSPECT_PAPER_SIZES_H_

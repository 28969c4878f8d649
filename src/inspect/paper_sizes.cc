#include "inspect/paper_sizes.h"

namespace quillaro {
namespace {

struct PaperRow {
  int32_t key;
  const char* name;
  const char* pjl_name;  // nullptr: no PJL value is meant to select it
  float width_mm;
  float height_mm;
};

// Portrait and landscape forms are separate entries; several names occur
// twice with different sizes. Keys are what the result is ordered by.
constexpr PaperRow kPaperRows[] = {
    {0, "Unknown", "Unknown", 0.0f, 0.0f},
    {1, "A4 Sheet", "A4", 210.0f, 297.0f},
    {2, "Letter", "Letter", 215.9f, 279.4f},
    {3, "A3 sheet", "A3", 297.0f, 420.0f},
    {4, "A5 sheet", "A5", 148.0f, 210.0f},
    {5, "B4 sheet", "JIS B4", 250.0f, 354.0f},
    {6, "B5 sheet", "JIS B5", 182.0f, 257.0f},
    {7, "Folio", "Folio", 215.9f, 330.2f},
    {8, "Statement", "Statement", 139.7f, 215.9f},
    {9, "Legal", "Legal", 215.9f, 355.6f},
    {10, "C Sheet", nullptr, 431.8f, 558.8f},
    {11, "D Sheet", nullptr, 558.8f, 863.6f},
    {12, "E Sheet", nullptr, 863.6f, 1117.6f},
    {13, "Letter Small", nullptr, 215.9f, 279.4f},
    {14, "Tabloid", nullptr, 279.4f, 431.8f},
    {15, "Ledger", nullptr, 431.8f, 279.4f},
    {16, "Executive", nullptr, 184.15f, 266.7f},
    {17, "A4 small sheet", nullptr, 210.0f, 297.0f},
    {18, "Quarto", nullptr, 215.0f, 275.0f},
    {19, "Unassigned", nullptr, 254.0f, 355.6f},
    {20, "Unassigned", nullptr, 279.4f, 431.8f},
    {21, "Note", nullptr, 215.9f, 279.4f},
    {22, "#9 Envelope", nullptr, 98.43f, 225.43f},
    {23, "#10 Envelope", nullptr, 104.78f, 241.3f},
    {24, "#11 Envelope", nullptr, 114.3f, 263.53f},
    {25, "#12 Envelope", nullptr, 120.65f, 279.4f},
    {26, "#14 Envelope", nullptr, 127.0f, 292.1f},
    {27, "DL Envelope", nullptr, 110.0f, 220.0f},
    {28, "C5 Envelope", nullptr, 162.0f, 229.0f},
    {29, "C3 Envelope", nullptr, 324.0f, 458.0f},
    {30, "C4 Envelope", nullptr, 229.0f, 324.0f},
    {31, "C6 Envelope", nullptr, 114.0f, 162.0f},
    {32, "C65 Envelope", nullptr, 114.0f, 229.0f},
    {33, "B4 Envelope", nullptr, 250.0f, 353.0f},
    {34, "B5 Envelope", nullptr, 176.0f, 250.0f},
    {35, "B6 Envelope", nullptr, 176.0f, 125.0f},
    {36, "Italy Envelope", nullptr, 110.0f, 230.0f},
    {37, "Monarch Envelope", nullptr, 98.43f, 190.5f},
    {38, "6 3/4 Envelope", nullptr, 92.08f, 165.1f},
    {39, "US Std Fanfold", nullptr, 377.83f, 279.4f},
    {40, "German Std Fanfold", nullptr, 215.9f, 304.8f},
    {41, "German Legal Fanfold", nullptr, 215.9f, 330.2f},
    {42, "B4 (ISO)", nullptr, 250.0f, 353.0f},
    {43, "9, 11 in", nullptr, 228.6f, 279.4f},
    {44, "10, 11 in", nullptr, 254.0f, 279.4f},
    {45, "15, 11 in", nullptr, 381.0f, 279.4f},
    {46, "Envelope Invite", nullptr, 220.0f, 220.0f},
    {47, "US Letter Extra", nullptr, 241.3f, 304.8f},
    {48, "US Legal Extra", nullptr, 241.3f, 381.0f},
    {49, "US Tabloid Extra", nullptr, 296.93f, 457.2f},
    {50, "A4 Extra", nullptr, 235.46f, 322.33f},
    {51, "Letter Transverse", nullptr, 215.9f, 279.4f},
    {52, "A4 Transverse", nullptr, 210.0f, 297.0f},
    {53, "Letter Extra Transverse", nullptr, 241.3f, 304.8f},
    {54, "SuperA/SuperA/A4", nullptr, 227.0f, 356.0f},
    {55, "SuperB/SuperB/A3", nullptr, 305.0f, 487.0f},
    {56, "US Letter Plus", nullptr, 215.9f, 322.33f},
    {57, "A4 Plus", nullptr, 210.0f, 330.0f},
    {58, "A5 Transverse", nullptr, 148.0f, 210.0f},
    {59, "B5 (JIS) Transverse", nullptr, 183.0f, 257.0f},
    {60, "A3 Extra", nullptr, 322.0f, 445.0f},
    {61, "A5 Extra", nullptr, 174.0f, 235.0f},
    {62, "B5 (ISO) Extra", nullptr, 201.0f, 276.0f},
    {63, "A2", nullptr, 420.0f, 594.0f},
    {64, "A3 Transverse", nullptr, 297.0f, 420.0f},
    {65, "A3 Extra Transverse", nullptr, 322.0f, 445.0f},
    {66, "A6", nullptr, 105.0f, 148.0f},
    {67, "Letter Rotated", nullptr, 279.4f, 215.9f},
    {68, "A3 Rotated", nullptr, 420.0f, 297.0f},
    {69, "A4 Rotated", nullptr, 297.0f, 210.0f},
    {70, "A5 Rotated", nullptr, 210.0f, 148.0f},
    {71, "B4 (JIS) Rotated", nullptr, 364.0f, 257.0f},
    {72, "B5 (JIS) Rotated", nullptr, 257.0f, 182.0f},
    {73, "A6 Rotated", nullptr, 148.0f, 105.0f},
    {74, "B6 (JIS)", nullptr, 128.0f, 182.0f},
    {75, "B6 (JIS)", nullptr, 182.0f, 128.0f},
    {76, "12, 11 in", nullptr, 304.8f, 279.4f},
};

// Whether a paper of `width` x `height` can hold a measured size of
// `measured_width` x `measured_height`: strictly larger in both directions,
// but by no more than a margin that grows with `tolerance`, each margin
// scaled by the sheet's aspect ratio. Single precision throughout, each
// product formed before its quotient, and the tests in this order: the
// width test goes first so that a zero-sized entry is never divided by.
bool Fits(float measured_width, float measured_height, float width, float height,
          float tolerance) {
  if (!(measured_width < width)) return false;
  const float width_margin = (tolerance * width) / height;
  if (!(measured_width > width - width_margin)) return false;
  if (!(measured_height < height)) return false;
  const float height_margin = (tolerance * height) / width;
  return measured_height > height - height_margin;
}

}  // namespace

void FillPaperTable(PaperTable& table) {
  table.clear();
  for (const PaperRow& row : kPaperRows) {
    if (row.pjl_name == nullptr) {
      table[row.key] = PaperSize(row.name, row.width_mm, row.height_mm);
    } else {
      table[row.key] = PaperSize(row.name, row.pjl_name, row.width_mm, row.height_mm);
    }
  }
}

void MatchPaperSizes(PaperTable& result, float width_mm, float height_mm, float step_mm) {
  result.clear();
  PaperTable table;
  FillPaperTable(table);
  // Each walk names at most one new paper; the tolerance widens until the
  // limit, so a size between two papers collects the nearer ones first.
  // A step that is not positive would never reach the limit: one walk then.
  float tolerance = step_mm;
  while (static_cast<double>(tolerance) < 51.0) {
    for (const auto& [key, paper] : table) {
      if (result.count(key) != 0) continue;
      if (Fits(width_mm, height_mm, paper.WidthMm, paper.HeightMm, tolerance)) {
        result[key] = paper;
        break;
      }
    }
    const float next = tolerance + step_mm;
    if (!(next > tolerance)) break;
    tolerance = next;
  }
  if (result.empty()) result[0] = table[0];
}

}  // namespace quillaro

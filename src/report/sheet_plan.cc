#include "report/sheet_plan.h"

#include <algorithm>
#include <map>
#include <utility>

namespace quillaro {
namespace {

const char* ColourClass(const std::optional<InkVerdict>& ink) {
  return ink ? InkVerdictName(*ink) : "unknown";
}

// A sheet's class from the strongest verdict on it.
const char* StrengthClass(int strength) {
  static const char* const kClasses[] = {"unknown", "blank", "mono", "colour"};
  return kClasses[strength];
}

// Colour over mono over blank; unknown only when nothing is known.
int Strength(const std::optional<InkVerdict>& ink) {
  if (!ink) return 0;
  switch (*ink) {
    case InkVerdict::kBlank:
      return 1;
    case InkVerdict::kMono:
      return 2;
    case InkVerdict::kColour:
      break;
  }
  return 3;
}

}  // namespace

SheetPlan PlanSheets(const std::vector<PlannedPage>& pages) {
  SheetPlan plan;
  std::map<std::pair<std::string, std::string>, SizeClassCount> counts;
  std::map<std::string, const char*> size_classes;
  auto count = [&](const std::string& size, const char* colour) -> SizeClassCount& {
    SizeClassCount& entry = counts[{size, colour}];
    entry.size = size;
    entry.size_class = size_classes[size];
    entry.colour = colour;
    return entry;
  };
  // The sheet being filled: its front page and the strongest verdict on it.
  const PlannedPage* front = nullptr;
  std::string sheet_size;
  int sheet_strength = 0;
  bool sheet_has_back_free = false;
  auto close_sheet = [&] {
    if (front == nullptr) return;
    count(sheet_size, StrengthClass(sheet_strength)).sheets += front->copies;
    plan.copied_sheets += front->copies;
  };
  for (const PlannedPage& page : pages) {
    const std::string size = page.size.value_or("unknown");
    size_classes.emplace(size, page.size_class);
    PagePlacement placement;
    if (sheet_has_back_free && size == sheet_size && page.duplex == front->duplex &&
        page.copies == front->copies) {
      placement.back = true;
      sheet_has_back_free = false;
    } else {
      close_sheet();
      ++plan.sheets;
      front = &page;
      sheet_size = size;
      sheet_strength = 0;
      sheet_has_back_free = page.duplex != DuplexMode::kSimplex;
    }
    placement.sheet = plan.sheets;
    placement.printed = !(placement.back && page.ink == InkVerdict::kBlank);
    if (placement.printed) {
      ++plan.impressions;
      plan.copied_impressions += page.copies;
      count(size, ColourClass(page.ink)).impressions += page.copies;
    }
    // A blank back still makes the sheet known to be blank at least.
    sheet_strength = std::max(sheet_strength, Strength(page.ink));
    plan.pages.push_back(placement);
  }
  close_sheet();
  for (auto& [key, entry] : counts) plan.by_size.push_back(std::move(entry));
  return plan;
}

}  // namespace quillaro

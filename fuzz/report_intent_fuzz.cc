// Feeds hostile bytes to the readers of what a job asks of the printer
// (PostScript, PCL, PCL XL, PDF, and their strings), to the colour verdict's
// pixel counter and to the sheet plan, and checks what each promises: counts
// in range, text that is UTF-8, every page placed once. Any crash,
// sanitizer report or broken promise stops the run.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "imaging/page_verdict.h"
#include "report/print_intent.h"
#include "report/sheet_plan.h"

namespace quillaro {
namespace {

void Check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "broken promise: %s\n", what);
  std::abort();
}

bool IsUtf8(const std::string& text) {
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const size_t length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3
                                          : (lead >> 3) == 30 ? 4 : 0;
    if (length == 0 || i + length > text.size()) return false;
    for (size_t k = 1; k < length; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) >> 6) != 2) return false;
    }
    i += length;
  }
  return true;
}

void CheckIntent(const PdlIntent& intent) {
  if (intent.copies) Check(*intent.copies >= 1 && *intent.copies <= 9999, "copies in range");
  if (intent.user) Check(IsUtf8(*intent.user), "user is UTF-8");
  if (intent.title) Check(IsUtf8(*intent.title), "title is UTF-8");
}

}  // namespace
}  // namespace quillaro

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quillaro;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  CheckIntent(PostScriptIntent(bytes));
  CheckIntent(PclIntent(bytes));
  CheckIntent(PclXlIntent(bytes));
  if (const auto title = PdfTitle(bytes, bytes.substr(size / 2))) {
    Check(IsUtf8(*title) && !title->empty(), "PDF title is UTF-8");
  }
  if (const auto text = DecodeDocumentString(bytes)) Check(IsUtf8(*text), "string is UTF-8");

  // The bytes as pixels: the first byte gives the width.
  if (size >= 4) {
    const int32_t width = 1 + data[0] % 32;
    const size_t row = 3 * static_cast<size_t>(width);
    const int32_t height = static_cast<int32_t>((size - 1) / row);
    const PageInkCounts counts = CountPageInk(data + 1, width, height, ColourRule{});
    Check(counts.pixels == static_cast<uint64_t>(width) * static_cast<uint64_t>(height),
          "every pixel counted");
    Check(counts.coloured <= counts.pixels && counts.inked <= counts.pixels, "counts in range");
  }

  // The bytes as a page sequence: size and ink of each page.
  std::vector<PlannedPage> pages;
  for (size_t i = 0; i + 1 < size && pages.size() < 200; i += 2) {
    PlannedPage page;
    if (data[i] % 4 != 0) page.size = std::string(1, static_cast<char>('A' + data[i] % 4));
    if (data[i + 1] % 4 != 3) page.ink = static_cast<InkVerdict>(data[i + 1] % 4);
    page.copies = 1 + data[i + 1] / 128;
    pages.push_back(page);
  }
  for (const bool duplex : {false, true}) {
    for (PlannedPage& page : pages) page.duplex = duplex ? DuplexMode::kLongEdge : DuplexMode::kSimplex;
    const SheetPlan plan = PlanSheets(pages);
    Check(plan.pages.size() == pages.size(), "every page placed");
    Check(plan.sheets <= static_cast<int64_t>(pages.size()), "no more sheets than pages");
    Check(duplex || plan.sheets == static_cast<int64_t>(pages.size()), "simplex: a sheet a page");
    int64_t impressions = 0, sheets = 0;
    for (const SizeClassCount& entry : plan.by_size) {
      impressions += entry.impressions;
      sheets += entry.sheets;
    }
    Check(impressions == plan.copied_impressions && sheets == plan.copied_sheets, "sizes add up");
  }
  return 0;
}

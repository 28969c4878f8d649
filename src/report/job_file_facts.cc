#include "report/job_file_facts.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "platform/content_digest.h"
#include "platform/file_system.h"
#include "platform/unique_file.h"

namespace quillaro {
namespace {

// A driver's setup and a PDF's trailer are found in these.
constexpr size_t kHeadBytes = 16u << 20;
constexpr size_t kTailBytes = 1u << 20;
constexpr size_t kBlockBytes = 1u << 20;

void Take(std::optional<SourcedText>& field, const std::optional<std::string>& value,
          const char* source) {
  if (field || !value || value->empty()) return;
  field = SourcedText{*value, source};
}

}  // namespace

const char* DuplexModeName(DuplexMode mode) {
  switch (mode) {
    case DuplexMode::kSimplex:
      return "simplex";
    case DuplexMode::kLongEdge:
      return "long_edge";
    case DuplexMode::kShortEdge:
      break;
  }
  return "short_edge";
}

const char* ColourModeName(ColourMode mode) {
  switch (mode) {
    case ColourMode::kAuto:
      return "auto";
    case ColourMode::kColour:
      return "colour";
    case ColourMode::kGrayscale:
      break;
  }
  return "grayscale";
}

JobFileFacts ReadJobFileFacts(const std::string& path, const std::string& fallback_interpreter) {
  JobFileFacts facts;
  UniqueFile file(OpenRegularFileForReading(path));
  if (!file) return facts;
  // One pass: the digest of every byte, the head kept, the tail kept last.
  Sha256 digest;
  std::string head, tail;
  std::vector<char> block(kBlockBytes);
  for (;;) {
    const size_t got = std::fread(block.data(), 1, block.size(), file.get());
    if (got == 0) break;
    digest.Update(block.data(), got);
    if (head.size() < kHeadBytes) head.append(block.data(), std::min(got, kHeadBytes - head.size()));
    tail.append(block.data(), got);
    if (tail.size() > 2 * kTailBytes) tail.erase(0, tail.size() - kTailBytes);
  }
  if (std::ferror(file.get())) return facts;
  if (tail.size() > kTailBytes) tail.erase(0, tail.size() - kTailBytes);
  facts.read = true;
  facts.job_id = digest.HexDigest();
  facts.language = TellJobLanguage(path, fallback_interpreter);
  facts.pjl = ReadPjlAttributes(path);

  PdlIntent intent;
  const char* pdl = "";
  const std::string language = facts.language.language.value_or("");
  if (language == "PS") {
    intent = PostScriptIntent(head);
    pdl = "postscript";
  } else if (language == "PCL") {
    intent = PclIntent(head);
    pdl = "pcl";
  } else if (language == "PCLXL") {
    intent = PclXlIntent(head);
    pdl = "pclxl";
  } else if (language == "PDF") {
    intent.title = PdfTitle(head, tail);
    pdl = "pdf";
  }

  const PjlAttributes& pjl = facts.pjl;
  Take(facts.user, pjl.user_name, "pjl_username");
  Take(facts.user, pjl.job_account_user, "pjl_jobattr");
  Take(facts.user, intent.user, "dsc_for");
  Take(facts.job_name, pjl.job_name, "pjl_job_name");
  Take(facts.job_name, pjl.set_jobname, "pjl_jobname");
  Take(facts.title, intent.title, language == "PDF" ? "pdf_title" : "dsc_title");

  std::string sources;
  if (const std::optional<int32_t> qty = PjlCount(pjl.qty)) {
    facts.job_copies = *qty;
    sources = "pjl_qty";
  }
  if (intent.copies) {
    facts.page_copies = *intent.copies;
    facts.page_copies_rendered = true;
    sources.append(sources.empty() ? "" : "+").append(pdl);
  } else if (const std::optional<int32_t> copies = PjlCount(pjl.copies)) {
    facts.page_copies = *copies;
    sources.append(sources.empty() ? "" : "+").append("pjl_copies");
  }
  if (!sources.empty()) facts.copies_source = sources;

  // The page description's own request overrides the PJL default, as on
  // the printer.
  DuplexMode pjl_duplex = DuplexMode::kSimplex;
  if (pjl.duplex) {
    pjl_duplex = !pjl.duplex_on() ? DuplexMode::kSimplex
                 : pjl.short_edge() ? DuplexMode::kShortEdge
                                    : DuplexMode::kLongEdge;
  }
  if (intent.duplex) {
    facts.duplex = *intent.duplex;
    facts.duplex_source = pdl;
  } else if (pjl.duplex) {
    facts.duplex = pjl_duplex;
    facts.duplex_source = "pjl";
  }
  // Pages that ask for other than the job's duplex or copies.
  const int32_t pjl_page_copies = PjlCount(pjl.copies).value_or(1);
  bool pages_differ = false;
  for (const PageRequest& request : intent.pages) {
    const PageSettings page{request.duplex.value_or(pjl_duplex),
                            request.copies.value_or(pjl_page_copies)};
    pages_differ = pages_differ || page.duplex != facts.duplex || page.copies != facts.page_copies;
    facts.pages.push_back(page);
  }
  if (!pages_differ) facts.pages.clear();
  auto upper = [](std::string text) {
    for (char& c : text) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    return text;
  };
  if (intent.colour) {
    facts.colour_mode = *intent.colour;
    facts.colour_mode_source = pdl;
  } else if (pjl.rendermode && (upper(*pjl.rendermode) == "GRAYSCALE" ||
                                upper(*pjl.rendermode) == "COLOR")) {
    facts.colour_mode =
        upper(*pjl.rendermode) == "GRAYSCALE" ? ColourMode::kGrayscale : ColourMode::kColour;
    facts.colour_mode_source = "pjl_rendermode";
  } else if (pjl.grayscale && (upper(*pjl.grayscale) == "ON" || upper(*pjl.grayscale) == "OFF")) {
    facts.colour_mode = upper(*pjl.grayscale) == "ON" ? ColourMode::kGrayscale : ColourMode::kColour;
    facts.colour_mode_source = "pjl_grayscale";
  }
  return facts;
}

}  // namespace quillaro

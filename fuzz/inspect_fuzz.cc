// Feeds hostile bytes to every inspection function and checks each answer
// against a plain model that holds the whole file in memory: text-mode
// translation of all the data, then lines split at LF. The model is slow and
// obvious; the functions read in blocks and never hold a line. Any crash,
// sanitizer report or disagreement stops the run.
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "config/text_utils.h"
#include "inspect/bounding_box.h"
#include "inspect/language_detection.h"
#include "inspect/paper_sizes.h"
#include "inspect/pjl_header.h"
#include "inspect/text_mode_reader.h"

namespace quillaro {
namespace {

constexpr size_t kMaxLines = 100;
constexpr size_t kMaxValueBytes = 4096;

void Check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "inspection disagrees with the model: %s\n", what);
  std::abort();
}

std::string TextMode(const std::string& bytes) {
  std::string text;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == 0x1A) break;
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
    text += bytes[i];
  }
  return text;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t begin = 0;
  while (begin < text.size()) {
    size_t end = text.find('\n', begin);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(begin, end - begin));
    begin = end + 1;
  }
  return lines;
}

bool StartsWith(const std::string& text, std::string_view prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

bool AnyLine(const std::vector<std::string>& lines, bool (*hit)(const std::string&)) {
  for (size_t i = 0; i < lines.size() && i < kMaxLines; ++i) {
    if (hit(lines[i])) return true;
  }
  return false;
}

std::string Value(const std::vector<std::string>& lines, const std::string& keyword) {
  for (size_t i = 0; i < lines.size() && i < kMaxLines; ++i) {
    const size_t at = lines[i].find(keyword);
    if (at == std::string::npos) continue;
    std::vector<std::string> pieces;
    if (SplitString(lines[i].substr(at), "=", pieces, false) != 1) continue;
    std::string value = pieces.size() > 1 ? pieces[1].substr(0, kMaxValueBytes) : "";
    for (char& c : value) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    }
    return value;
  }
  return {};
}

void CheckReaderLines(const std::string& path, const std::vector<std::string>& expected,
                      size_t block_bytes, size_t piece_bytes) {
  TextModeReader reader(block_bytes);
  Check(reader.Open(path), "open");
  std::vector<std::string> lines;
  while (reader.NextLine()) {
    std::string line;
    for (std::string_view piece = reader.LinePiece(piece_bytes); !piece.empty();
         piece = reader.LinePiece(piece_bytes)) {
      line.append(piece);
    }
    lines.push_back(line);
  }
  Check(lines == expected, "lines read in small blocks");
}

}  // namespace
}  // namespace quillaro

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quillaro;
  // Memory-backed when possible: the file is rewritten for every input.
  static const std::string path =
      std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") +
      "/quillaro-inspect-fuzz-" + std::to_string(getpid());
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return 0;
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
  }
  const std::string text = TextMode(bytes);
  const std::vector<std::string> lines = Lines(text);
  const bool uel = !lines.empty() && lines[0].find(kUel) != std::string::npos;

  Check(HasUel(path) == (uel ? 1 : 0), "HasUel");
  Check(IsPostScript(path) == (AnyLine(lines, [](const std::string& l) {
                                 return StartsWith(l, "%!PS") || StartsWith(l, "%!ps");
                               }) ? 1 : 0),
        "IsPostScript");
  Check(IsPdf(path) == (!lines.empty() && (StartsWith(lines[0], "%PDF") ||
                                           StartsWith(lines[0], "%pdf")) ? 1 : 0),
        "IsPdf");
  Check(IsPclXl(path) ==
            (AnyLine(lines, [](const std::string& l) { return StartsWith(l, ") HP-PCL XL;"); })
                 ? 1 : 0),
        "IsPclXl");
  const auto pcl_byte = [](char c) {
    return static_cast<unsigned char>(c) >= 0x21 && static_cast<unsigned char>(c) <= 0x2F;
  };
  bool pcl = false;
  bool xps = false;
  if (uel) {
    pcl = AnyLine(lines, [](const std::string& l) {
      return l.size() >= 2 && l[0] == 0x1B && static_cast<unsigned char>(l[1]) >= 0x21 &&
             static_cast<unsigned char>(l[1]) <= 0x2F && l.find("\x1b%-12345X") == std::string::npos;
    });
    xps = AnyLine(lines, [](const std::string& l) {
      return StartsWith(l, "PK") && l.find("\x1b%-12345X") == std::string::npos;
    });
  } else {
    pcl = text.size() >= 2 && text[0] == 0x1B && pcl_byte(text[1]);
    xps = StartsWith(text, "PK");
  }
  Check(IsPcl(path) == (pcl ? 1 : 0), "IsPcl");
  Check(IsXps(path) == (xps ? 1 : 0), "IsXps");
  Check(GetPjlLanguage(path) == Value(lines, "@PJL ENTER LANGUAGE"), "GetPjlLanguage");
  Check(GetPjlPaper(path) == Value(lines, "@PJL SET PAPER"), "GetPjlPaper");
  const std::string qty = Value(lines, "@PJL SET QTY");
  long copies = qty.empty() ? 1 : std::strtol(qty.c_str(), nullptr, 10);
  copies = copies > INT_MAX ? INT_MAX : copies < INT_MIN ? INT_MIN : copies;
  Check(GetPjlCopies(path) == copies, "GetPjlCopies");

  std::string header, body, trailer;
  if (SplitPjlJob(path, header, body, trailer) == 1) {
    Check(uel && header + body + trailer == bytes, "SplitPjlJob joins back");
  }

  if (size > 0) {
    CheckReaderLines(path, lines, 1 + data[0] % 7, 1 + data[size - 1] % 5);
  }

  float width = 0, height = 0;
  ReadBoundingBox(bytes, width, height);
  Check(width >= 0 && height >= 0, "ReadBoundingBox");
  PaperTable papers;
  MatchPaperSizes(papers, width, height, 5.0f);
  Check(!papers.empty() && papers.size() <= 10, "MatchPaperSizes");
  return 0;
}

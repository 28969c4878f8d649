#include "inspect/language_detection.h"

#include <algorithm>
#include <optional>
#include <string_view>

#include "inspect/stream_finder.h"
#include "inspect/text_mode_reader.h"

namespace quillaro {
namespace {

constexpr unsigned char kEscape = 0x1B;
// The line tests look no further: a job that has not shown its language in
// its first 100 lines is left to the interpreters to try.
constexpr int kMaxLines = 100;
// A PJL value is a language, paper or number name of a few bytes. A keyword
// line may still run on for megabytes when a job puts binary data behind it
// without a line feed; keeping more than this would only cost memory, since
// no caller looks further into a value than its first few bytes. The "="
// after the cut are still counted, so whether the line is usable is decided
// on the whole line.
constexpr size_t kMaxPjlValueBytes = 4096;

bool InPclCommandRange(unsigned char byte) { return byte >= 0x21 && byte <= 0x2F; }

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// Up to `count` bytes from the start of the current line. Only these bytes
// are consumed, so a test decides on a line's start without reading on.
std::string ReadLineHead(TextModeReader& reader, size_t count) {
  std::string head;
  while (head.size() < count) {
    const std::string_view piece = reader.LinePiece(count - head.size());
    if (piece.empty()) break;
    head.append(piece);
  }
  return head;
}

// Feeds the rest of the current line to `finder` until the pattern shows.
bool RestOfLineContains(TextModeReader& reader, StreamFinder& finder) {
  while (!finder.found()) {
    const std::string_view piece = reader.LinePiece();
    if (piece.empty()) break;
    finder.Feed(piece);
  }
  return finder.found();
}

// Runs `examine` on each of the first lines of the file until it returns a
// hit. Nothing when the file cannot be opened or no line is a hit.
template <typename Result, typename Examine>
std::optional<Result> ScanLines(const std::string& path, Examine examine) {
  TextModeReader reader;
  if (!reader.Open(path)) return std::nullopt;
  for (int count = 0; count < kMaxLines && reader.NextLine(); ++count) {
    std::optional<Result> hit = examine(reader);
    if (hit) return hit;
  }
  return std::nullopt;
}

// A line scan that hits on lines starting with one of two marks.
int32_t AnyLineStartsWith(const std::string& path, std::string_view mark,
                          std::string_view other_mark) {
  const size_t head_bytes = std::max(mark.size(), other_mark.size());
  const auto hit = ScanLines<bool>(path, [&](TextModeReader& reader) -> std::optional<bool> {
    const std::string head = ReadLineHead(reader, head_bytes);
    if (StartsWith(head, mark) || StartsWith(head, other_mark)) return true;
    return std::nullopt;
  });
  return hit ? 1 : 0;
}

// The two-byte tests of a job without PJL header: the file's first two bytes
// as text mode delivers them.
bool FirstTwoBytesMatch(const std::string& path, bool (*first)(unsigned char),
                        bool (*second)(unsigned char)) {
  TextModeReader reader;
  if (!reader.Open(path)) return false;
  unsigned char byte = 0;
  if (!reader.ReadByte(byte) || !first(byte)) return false;
  return reader.ReadByte(byte) && second(byte);
}

// The line tests behind a PJL header: a line that starts with the two bytes
// and does not hold the UEL (the UEL line itself starts with ESC "%", which
// would otherwise pass for PCL).
int32_t AnyLineAfterUelStartsWith(const std::string& path, bool (*first)(unsigned char),
                                  bool (*second)(unsigned char)) {
  const auto hit = ScanLines<bool>(path, [&](TextModeReader& reader) -> std::optional<bool> {
    const std::string head = ReadLineHead(reader, 2);
    if (head.size() < 2 || !first(static_cast<unsigned char>(head[0])) ||
        !second(static_cast<unsigned char>(head[1]))) {
      return std::nullopt;
    }
    StreamFinder uel{std::string(kUel)};
    uel.Feed(head);
    if (RestOfLineContains(reader, uel)) return std::nullopt;
    return true;
  });
  return hit ? 1 : 0;
}

bool IsEscape(unsigned char byte) { return byte == kEscape; }
bool IsLetterP(unsigned char byte) { return byte == 'P'; }
bool IsLetterK(unsigned char byte) { return byte == 'K'; }

}  // namespace

int32_t HasUel(const std::string& path) {
  TextModeReader reader;
  if (!reader.Open(path) || !reader.NextLine()) return 0;
  StreamFinder uel{std::string(kUel)};
  return RestOfLineContains(reader, uel) ? 1 : 0;
}

int32_t IsPostScript(const std::string& path) { return AnyLineStartsWith(path, "%!ps", "%!PS"); }

int32_t IsPdf(const std::string& path) {
  TextModeReader reader;
  if (!reader.Open(path) || !reader.NextLine()) return 0;
  const std::string head = ReadLineHead(reader, 4);
  return StartsWith(head, "%PDF") || StartsWith(head, "%pdf") ? 1 : 0;
}

int32_t IsPcl(const std::string& path) {
  if (HasUel(path) == 0) return FirstTwoBytesMatch(path, IsEscape, InPclCommandRange) ? 1 : 0;
  return AnyLineAfterUelStartsWith(path, IsEscape, InPclCommandRange);
}

int32_t IsPclXl(const std::string& path) {
  return AnyLineStartsWith(path, ") HP-PCL XL;", ") HP-PCL XL;");
}

int32_t IsXps(const std::string& path) {
  if (HasUel(path) == 0) return FirstTwoBytesMatch(path, IsLetterP, IsLetterK) ? 1 : 0;
  return AnyLineAfterUelStartsWith(path, IsLetterP, IsLetterK);
}

std::string GetPjlLanguage(const std::string& path) {
  return GetPjlValue(path, "@PJL ENTER LANGUAGE");
}

std::string GetPjlValue(const std::string& path, const std::string& keyword) {
  // A keyword holding "=" or LF could never be split off as described.
  if (keyword.empty() || keyword.find_first_of("=\n") != std::string::npos) return {};
  const auto value = ScanLines<std::string>(
      path, [&](TextModeReader& reader) -> std::optional<std::string> {
        StreamFinder finder(keyword);
        int separators = 0;
        std::string text;
        for (std::string_view piece = reader.LinePiece(); !piece.empty();
             piece = reader.LinePiece()) {
          if (!finder.found()) {
            // Whatever stands before the keyword (a UEL, say) is ignored.
            const std::optional<size_t> keyword_end = finder.Feed(piece);
            if (!keyword_end) continue;
            piece.remove_prefix(*keyword_end);
          }
          for (size_t at = piece.find('='); at != std::string_view::npos;
               at = piece.find('=')) {
            // A second "=" makes the line unusable: no need to read on.
            if (++separators > 1) return std::nullopt;
            piece.remove_prefix(at + 1);
          }
          if (separators == 1 && text.size() < kMaxPjlValueBytes) {
            text.append(piece.substr(0, kMaxPjlValueBytes - text.size()));
          }
        }
        if (separators != 1) return std::nullopt;
        if (text.size() > kMaxPjlValueBytes) text.resize(kMaxPjlValueBytes);
        // Upper case byte by byte: only ASCII letters, whatever the locale.
        for (char& c : text) {
          if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        }
        return text;
      });
  return value.value_or(std::string());
}

}  // namespace quillaro

// What a PCL 5 job asks of the printer, from its escape sequences: ESC&l#X
// copies and ESC&l#S duplex. Raster rows, fonts and other data the escapes
// announce are stepped over, so that their bytes are never read as escapes.

#include "report/print_intent.h"

namespace quillaro {
namespace {

constexpr char kEscape = '\x1b';
constexpr std::string_view kUniversalExit = "%-12345X";

bool IsParameterFamily(char c) { return c >= '!' && c <= '/'; }
bool IsGroup(char c) { return c >= '`' && c <= '~'; }
bool IsContinuing(char c) { return c >= '`' && c <= '~'; }  // lower case: more follow
bool IsFinal(char c) { return c >= '@' && c <= '^'; }       // upper case: the last one

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Escapes whose value counts the data bytes that follow them.
bool AnnouncesData(char family, char group, char parameter) {
  if (parameter == 'W') return true;  // raster rows, fonts, characters, palettes, patterns
  if (family == '*' && group == 'b' && parameter == 'V') return true;  // a plane of a row
  if (family == '&' && group == 'p' && parameter == 'X') return true;  // transparent print data
  return false;
}

}  // namespace

PdlIntent PclIntent(std::string_view head) {
  PdlIntent intent;
  // The requests in effect, and whether the page under way is marked.
  PageRequest current;
  bool marked = false;
  auto end_page = [&] {
    intent.pages.push_back(current);
    marked = false;
  };
  // Text between escapes: a form feed ends a page, a printable byte marks it.
  auto read_text = [&](std::string_view text) {
    for (const char c : text) {
      if (c == '\f') {
        end_page();
      } else if (static_cast<unsigned char>(c) >= ' ') {
        marked = true;
      }
    }
  };
  size_t at = 0;
  while (at < head.size()) {
    const size_t escape = head.find(kEscape, at);
    if (escape == std::string_view::npos) {
      read_text(head.substr(at));
      break;
    }
    read_text(head.substr(at, escape - at));
    at = escape + 1;
    if (at >= head.size()) break;
    // A PJL layer (the universal exit and the @PJL lines after it) is no
    // part of a page.
    if (head.substr(at).starts_with(kUniversalExit)) {
      at += kUniversalExit.size();
      for (;;) {
        while (at < head.size() && (head[at] == '\r' || head[at] == '\n')) ++at;
        if (!head.substr(at).starts_with("@PJL")) break;
        const size_t line_end = head.find('\n', at);
        at = line_end == std::string_view::npos ? head.size() : line_end + 1;
      }
      continue;
    }
    if (head[at] == 'E') {  // reset: prints a marked page
      if (marked) end_page();
      ++at;
      continue;
    }
    if (at + 2 >= head.size()) break;
    const char family = head[at];
    const char group = head[at + 1];
    if (!IsParameterFamily(family) || !IsGroup(group)) continue;
    at += 2;
    // One or more values, each ended by its parameter letter; lower case
    // letters chain the next value of the same group.
    uint64_t skip = 0;
    while (at < head.size()) {
      bool negative = false;
      if (head[at] == '+' || head[at] == '-') negative = head[at++] == '-';
      int64_t value = 0;
      while (at < head.size() && head[at] >= '0' && head[at] <= '9') {
        if (value < 100000000) value = value * 10 + (head[at] - '0');
        ++at;
      }
      if (at < head.size() && head[at] == '.') {
        ++at;
        while (at < head.size() && head[at] >= '0' && head[at] <= '9') ++at;
      }
      if (at >= head.size()) break;
      const char letter = head[at++];
      if (!IsContinuing(letter) && !IsFinal(letter)) break;
      const char parameter = Upper(letter);
      if (negative) value = -value;
      if (family == '&' && group == 'l' && parameter == 'X' && value >= 1 && value <= 9999) {
        if (!intent.copies) intent.copies = static_cast<int32_t>(value);
        current.copies = static_cast<int32_t>(value);
      }
      if (family == '&' && group == 'l' && parameter == 'S' && value >= 0 && value <= 2) {
        // A duplex request prints the page under way first.
        if (marked) end_page();
        const DuplexMode mode = value == 0   ? DuplexMode::kSimplex
                                : value == 1 ? DuplexMode::kLongEdge
                                             : DuplexMode::kShortEdge;
        if (!intent.duplex) intent.duplex = mode;
        current.duplex = mode;
      }
      // Raster rows and rules put ink on the page.
      if (family == '*' && ((group == 'b' && (parameter == 'W' || parameter == 'V')) ||
                            (group == 'c' && parameter == 'P'))) {
        marked = true;
      }
      if (AnnouncesData(family, group, parameter) && value > 0) skip += static_cast<uint64_t>(value);
      if (IsFinal(letter)) break;
    }
    at = skip >= head.size() - at ? head.size() : at + static_cast<size_t>(skip);
  }
  if (marked) end_page();
  return intent;
}

}  // namespace quillaro

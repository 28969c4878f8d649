// What a PCL 5 job asks of the printer, from its escape sequences: ESC&l#X
// copies and ESC&l#S duplex. Raster rows, fonts and other data the escapes
// announce are stepped over, so that their bytes are never read as escapes.

#include "report/print_intent.h"

namespace quillaro {
namespace {

constexpr char kEscape = '\x1b';

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
  size_t at = 0;
  while (at < head.size() && !(intent.copies && intent.duplex)) {
    const size_t escape = head.find(kEscape, at);
    if (escape == std::string_view::npos || escape + 3 >= head.size()) break;
    at = escape + 1;
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
      if (family == '&' && group == 'l' && parameter == 'X' && !intent.copies && value >= 1 &&
          value <= 9999) {
        intent.copies = static_cast<int32_t>(value);
      }
      if (family == '&' && group == 'l' && parameter == 'S' && !intent.duplex) {
        if (value == 0) intent.duplex = DuplexMode::kSimplex;
        if (value == 1) intent.duplex = DuplexMode::kLongEdge;
        if (value == 2) intent.duplex = DuplexMode::kShortEdge;
      }
      if (AnnouncesData(family, group, parameter) && value > 0) skip += static_cast<uint64_t>(value);
      if (IsFinal(letter)) break;
    }
    at = skip >= head.size() - at ? head.size() : at + static_cast<size_t>(skip);
  }
  return intent;
}

}  // namespace quillaro

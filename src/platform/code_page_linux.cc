#include "platform/code_page.h"

#include <cstdint>

namespace quillaro {
namespace {

void AppendUtf16(std::u16string& out, uint32_t cp) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// A byte that is not part of valid UTF-8 is carried as the lone low
// surrogate U+DC80..U+DCFF (no valid UTF-8 decodes to one), so that a file
// name in another encoding still names its file after a round trip.
char16_t EscapeByte(uint8_t byte) { return static_cast<char16_t>(0xDC00 + byte); }

bool IsEscapedByte(uint32_t unit) { return unit >= 0xDC80 && unit <= 0xDCFF; }

}  // namespace

std::string NarrowToUtf8(std::string_view narrow) { return std::string(narrow); }

std::u16string NarrowToWide(std::string_view narrow) {
  std::u16string out;
  out.reserve(narrow.size());
  size_t i = 0;
  while (i < narrow.size()) {
    uint8_t lead = static_cast<uint8_t>(narrow[i]);
    if (lead < 0x80) {
      out.push_back(lead);
      ++i;
      continue;
    }
    size_t len = 0;
    uint32_t cp = 0, min = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
      len = 2, cp = lead & 0x1F, min = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      len = 3, cp = lead & 0x0F, min = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      len = 4, cp = lead & 0x07, min = 0x10000;
    }
    size_t consumed = 1;
    bool ok = len != 0;
    for (size_t k = 1; ok && k < len; ++k) {
      if (i + k >= narrow.size() || (static_cast<uint8_t>(narrow[i + k]) & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (static_cast<uint8_t>(narrow[i + k]) & 0x3F);
      consumed = k + 1;
    }
    if (ok && (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) ok = false;
    if (ok) {
      AppendUtf16(out, cp);
      i += len;
    } else {
      // Each byte of the offending sequence (all 0x80 and above) escaped.
      for (size_t k = 0; k < consumed; ++k) {
        out.push_back(EscapeByte(static_cast<uint8_t>(narrow[i + k])));
      }
      i += consumed;
    }
  }
  return out;
}

std::string WideToNarrow(std::u16string_view wide) {
  std::string out;
  out.reserve(wide.size());
  for (size_t i = 0; i < wide.size(); ++i) {
    uint32_t unit = wide[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
        wide[i + 1] <= 0xDFFF) {
      AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (wide[i + 1] - 0xDC00));
      ++i;
    } else if (IsEscapedByte(unit)) {
      out.push_back(static_cast<char>(unit - 0xDC00));
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      out.push_back('?');
    } else {
      AppendUtf8(out, unit);
    }
  }
  return out;
}

}  // namespace quillaro

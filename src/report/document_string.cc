// PostScript and PDF strings as UTF-8 text, for the names a job carries.

#include <cstdint>

#include "report/print_intent.h"

namespace quillaro {
namespace {

// Names and titles are short; a longer string is cut here.
constexpr size_t kMaxStringBytes = 1024;

void AppendUtf8(std::string& out, uint32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

bool IsUtf8(const std::string& bytes) {
  for (size_t i = 0; i < bytes.size();) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    const size_t length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3
                                          : (lead >> 3) == 30 ? 4 : 0;
    if (length == 0 || i + length > bytes.size()) return false;
    for (size_t k = 1; k < length; ++k) {
      if ((static_cast<unsigned char>(bytes[i + k]) >> 6) != 2) return false;
    }
    i += length;
  }
  return true;
}

std::string AsUtf8(const std::string& bytes) {
  std::string text;
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFE &&
      static_cast<unsigned char>(bytes[1]) == 0xFF) {
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
      uint32_t unit = (static_cast<unsigned char>(bytes[i]) << 8) |
                      static_cast<unsigned char>(bytes[i + 1]);
      if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < bytes.size()) {
        const uint32_t low = (static_cast<unsigned char>(bytes[i + 2]) << 8) |
                             static_cast<unsigned char>(bytes[i + 3]);
        if (low >= 0xDC00 && low < 0xE000) {
          unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
          i += 2;
        }
      }
      if (unit >= 0xD800 && unit < 0xE000) unit = 0xFFFD;  // a lone surrogate
      AppendUtf8(text, unit);
    }
    return text;
  }
  if (IsUtf8(bytes)) return bytes;
  for (char c : bytes) AppendUtf8(text, static_cast<unsigned char>(c));
  return text;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::string> LiteralBytes(std::string_view text) {
  std::string bytes;
  int depth = 1;
  for (size_t i = 1; i < text.size() && bytes.size() < kMaxStringBytes; ++i) {
    const char c = text[i];
    if (c == '(') {
      ++depth;
    } else if (c == ')') {
      if (--depth == 0) return bytes;
    } else if (c == '\\' && i + 1 < text.size()) {
      const char next = text[++i];
      switch (next) {
        case 'n': bytes += '\n'; continue;
        case 'r': bytes += '\r'; continue;
        case 't': bytes += '\t'; continue;
        case 'b': bytes += '\b'; continue;
        case 'f': bytes += '\f'; continue;
        case '\r':
          if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
          continue;
        case '\n':
          continue;
        default:
          break;
      }
      if (next >= '0' && next <= '7') {
        int value = next - '0';
        for (int k = 0; k < 2 && i + 1 < text.size() && text[i + 1] >= '0' && text[i + 1] <= '7';
             ++k) {
          value = value * 8 + (text[++i] - '0');
        }
        bytes += static_cast<char>(value & 0xFF);
        continue;
      }
      bytes += next;
      continue;
    }
    bytes += c;
  }
  // No closing parenthesis: what was read is the text.
  return bytes;
}

std::optional<std::string> HexBytes(std::string_view text) {
  std::string bytes;
  int high = -1;
  for (size_t i = 1; i < text.size() && bytes.size() < kMaxStringBytes; ++i) {
    if (text[i] == '>') break;
    const int value = HexValue(text[i]);
    if (value < 0) continue;  // blanks between digits
    if (high < 0) {
      high = value;
    } else {
      bytes += static_cast<char>(high * 16 + value);
      high = -1;
    }
  }
  if (high >= 0) bytes += static_cast<char>(high * 16);
  return bytes;
}

}  // namespace

std::optional<std::string> DecodeDocumentString(std::string_view text) {
  std::optional<std::string> bytes;
  if (!text.empty() && text[0] == '(') bytes = LiteralBytes(text);
  if (text.size() >= 2 && text[0] == '<' && text[1] != '<') bytes = HexBytes(text);
  if (!bytes) return std::nullopt;
  return AsUtf8(*bytes);
}

}  // namespace quillaro

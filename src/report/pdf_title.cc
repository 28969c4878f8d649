// The title a PDF file gives itself: the /Title of the Info dictionary its
// trailer (or cross-reference stream) names.

#include <cctype>

#include "report/print_intent.h"

namespace quillaro {
namespace {

// An object's dictionary is looked at up to this far from "obj".
constexpr size_t kMaxObjectBytes = 64 * 1024;

bool IsPdfBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\0';
}

// "12 0 R" at `at`: the object number and generation.
std::optional<std::pair<uint64_t, uint64_t>> Reference(std::string_view text, size_t at) {
  uint64_t numbers[2] = {0, 0};
  for (uint64_t& number : numbers) {
    while (at < text.size() && IsPdfBlank(text[at])) ++at;
    size_t digits = 0;
    while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])) && digits < 10) {
      number = number * 10 + static_cast<uint64_t>(text[at++] - '0');
      ++digits;
    }
    if (digits == 0) return std::nullopt;
  }
  while (at < text.size() && IsPdfBlank(text[at])) ++at;
  if (at >= text.size() || text[at] != 'R') return std::nullopt;
  return std::make_pair(numbers[0], numbers[1]);
}

// The dictionary text of object `number` `generation` in `data`: from its
// "obj" to its "endobj" (or kMaxObjectBytes).
std::optional<std::string_view> ObjectText(std::string_view data, uint64_t number,
                                           uint64_t generation) {
  const std::string key = std::to_string(number) + " " + std::to_string(generation) + " obj";
  for (size_t at = data.find(key); at != std::string_view::npos; at = data.find(key, at + 1)) {
    if (at > 0 && !IsPdfBlank(data[at - 1])) continue;  // "112 0 obj" is not object 12
    std::string_view object = data.substr(at + key.size(), kMaxObjectBytes);
    if (const size_t end = object.find("endobj"); end != std::string_view::npos) {
      object = object.substr(0, end);
    }
    return object;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> PdfTitle(std::string_view head, std::string_view tail) {
  // The last trailer wins: an incremental update appends a newer one.
  const size_t info = tail.rfind("/Info");
  if (info == std::string_view::npos) return std::nullopt;
  if (tail.find("/Encrypt", info > 4096 ? info - 4096 : 0) != std::string_view::npos) {
    return std::nullopt;  // the strings are enciphered
  }
  const auto reference = Reference(tail, info + 5);
  if (!reference) return std::nullopt;
  std::optional<std::string_view> object = ObjectText(tail, reference->first, reference->second);
  if (!object) object = ObjectText(head, reference->first, reference->second);
  if (!object) return std::nullopt;
  const size_t title = object->find("/Title");
  if (title == std::string_view::npos) return std::nullopt;
  size_t at = title + 6;
  while (at < object->size() && IsPdfBlank((*object)[at])) ++at;
  const std::optional<std::string> text = DecodeDocumentString(object->substr(at));
  if (!text || text->empty()) return std::nullopt;
  return *text;
}

}  // namespace quillaro

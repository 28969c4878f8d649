// What a PCL XL job asks of the printer: each page's copies travel with its
// EndPage operator (PageCopies) and its duplex with its BeginPage operator
// (DuplexPageMode, SimplexPageMode). A token scan finds them: values,
// arrays and embedded data are stepped over by their declared sizes.

#include <cstdint>
#include <vector>

#include "report/print_intent.h"

namespace quillaro {
namespace {

constexpr uint8_t kBeginPage = 0x43;
constexpr uint8_t kEndPage = 0x44;
constexpr uint16_t kPageCopies = 0x31;
constexpr uint16_t kSimplexPageMode = 0x34;
constexpr uint16_t kDuplexPageMode = 0x35;
constexpr uint8_t kDuplexVerticalBinding = 1;  // bound on the long edge of a portrait page

// Bytes of one element of the data types c0..c5: ubyte, uint16, uint32,
// sint16, sint32, real32.
size_t ElementBytes(uint8_t type) {
  static constexpr size_t kSizes[] = {1, 2, 4, 2, 4, 4};
  return kSizes[type & 7];
}

class Reader {
 public:
  Reader(std::string_view data, bool little_endian) : data_(data), little_(little_endian) {}
  bool Has(size_t count) const { return count <= data_.size() - at_; }
  uint8_t Byte() { return static_cast<uint8_t>(data_[at_++]); }
  uint32_t Number(size_t bytes) {
    uint32_t value = 0;
    for (size_t i = 0; i < bytes; ++i) {
      const uint32_t byte = Byte();
      value = little_ ? value | (byte << (8 * i)) : (value << 8) | byte;
    }
    return value;
  }
  void Skip(size_t count) { at_ += count; }
  bool AtEnd() const { return at_ >= data_.size(); }

 private:
  std::string_view data_;
  bool little_;
  size_t at_ = 0;
};

}  // namespace

PdlIntent PclXlIntent(std::string_view head) {
  PdlIntent intent;
  // ") HP-PCL XL;..." : ')' binds little-endian, '(' big-endian.
  const size_t header = head.find(" HP-PCL XL");
  if (header == std::string_view::npos || header == 0) return intent;
  const char binding = head[header - 1];
  if (binding != ')' && binding != '(') return intent;
  const size_t line_end = head.find('\n', header);
  if (line_end == std::string_view::npos) return intent;
  Reader reader(head.substr(line_end + 1), binding == ')');

  // The value before an attribute id; unsigned whole values only.
  bool has_value = false;
  uint32_t last_value = 0;
  std::vector<std::pair<uint16_t, uint32_t>> attributes;
  PageRequest page;  // the page under way
  while (!reader.AtEnd()) {
    const uint8_t tag = reader.Byte();
    if (tag == 0x00 || (tag >= 0x09 && tag <= 0x0d) || tag == 0x20) continue;  // white space
    if (tag >= 0xc0 && tag <= 0xc5) {  // a single value
      const size_t bytes = ElementBytes(tag);
      if (!reader.Has(bytes)) break;
      last_value = reader.Number(bytes);
      has_value = tag == 0xc0 || tag == 0xc1 || tag == 0xc2;
      continue;
    }
    if ((tag >= 0xc8 && tag <= 0xcd) || (tag >= 0xd0 && tag <= 0xd5) ||
        (tag >= 0xe0 && tag <= 0xe5)) {
      size_t count = tag >= 0xe0 ? 4 : 2;
      if (tag <= 0xcd) {  // an array: its length's type and its length
        if (!reader.Has(1)) break;
        const uint8_t length_type = reader.Byte();
        if (length_type != 0xc0 && length_type != 0xc1) break;
        const size_t bytes = ElementBytes(length_type);
        if (!reader.Has(bytes)) break;
        count = reader.Number(bytes);
      }
      const size_t bytes = count * ElementBytes(tag);
      if (!reader.Has(bytes)) break;
      reader.Skip(bytes);
      has_value = false;
      continue;
    }
    if (tag == 0xf8 || tag == 0xf9) {  // the attribute the value before it belongs to
      const size_t bytes = tag == 0xf8 ? 1 : 2;
      if (!reader.Has(bytes)) break;
      const auto id = static_cast<uint16_t>(reader.Number(bytes));
      if (has_value) attributes.emplace_back(id, last_value);
      has_value = false;
      continue;
    }
    if (tag == 0xfa || tag == 0xfb) {  // embedded data
      const size_t bytes = tag == 0xfa ? 4 : 1;
      if (!reader.Has(bytes)) break;
      const size_t length = reader.Number(bytes);
      if (!reader.Has(length)) break;
      reader.Skip(length);
      continue;
    }
    if (tag >= 0x41 && tag <= 0xbf) {  // an operator takes the attributes before it
      for (const auto& [id, value] : attributes) {
        if (tag == kEndPage && id == kPageCopies && value >= 1 && value <= 9999)
          page.copies = static_cast<int32_t>(value);
        if (tag == kBeginPage) {
          if (id == kSimplexPageMode) page.duplex = DuplexMode::kSimplex;
          if (id == kDuplexPageMode) {
            page.duplex =
                value == kDuplexVerticalBinding ? DuplexMode::kLongEdge : DuplexMode::kShortEdge;
          }
        }
      }
      // The first page tells the job's; one that says nothing leaves the
      // PJL defaults. Each page says its own.
      if (tag == kEndPage) {
        if (intent.pages.empty()) {
          intent.copies = page.copies;
          intent.duplex = page.duplex;
        }
        intent.pages.push_back(page);
        page = PageRequest{};
      }
      attributes.clear();
      has_value = false;
      continue;
    }
    break;  // the end of the stream (a UEL) or no PCL XL
  }
  return intent;
}

}  // namespace quillaro

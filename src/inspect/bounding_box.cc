#include "inspect/bounding_box.h"

#include <cstdlib>
#include <string_view>
#include <vector>

#include "config/text_utils.h"

namespace quillaro {
namespace {

// The bbox device writes one such line per page; the integer
// "%%BoundingBox: " line beside it is too coarse and is not read.
constexpr std::string_view kMarker = "%%HiResBoundingBox: ";

}  // namespace

void ReadBoundingBox(const std::string& output, float& width, float& height) {
  float max_x = 0;
  float max_y = 0;
  size_t line_begin = 0;
  while (line_begin < output.size()) {
    size_t line_end = output.find('\n', line_begin);
    if (line_end == std::string::npos) line_end = output.size();
    const std::string_view line(output.data() + line_begin, line_end - line_begin);
    line_begin = line_end + 1;

    const size_t marker = line.find(kMarker);
    if (marker == std::string_view::npos) continue;
    // A CR before the LF stays on the last number, where it ends the
    // conversion like any other byte that is not part of a number.
    const std::string rest(line.substr(marker + kMarker.size()));
    if (rest.empty()) continue;
    std::vector<std::string> numbers;
    if (SplitString(rest, " ", numbers, false) != 3 || numbers.size() < 4) continue;
    // strtof reads the numbers, so "594.99\r" gives 594.99 and a piece
    // without a number gives 0, which never raises a maximum.
    const float x = std::strtof(numbers[2].c_str(), nullptr);
    const float y = std::strtof(numbers[3].c_str(), nullptr);
    if (x > max_x) max_x = x;
    if (y > max_y) max_y = y;
  }
  width = static_cast<float>(static_cast<double>(max_x) / 72.0 * 25.4);
  height = static_cast<float>(static_cast<double>(max_y) / 72.0 * 25.4);
}

}  // namespace quillaro

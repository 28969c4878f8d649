#include "report_tool/aligned_table.h"

#include <algorithm>

namespace quillaro {

std::string AlignedTable(const std::vector<std::string>& header,
                         const std::vector<std::vector<std::string>>& rows, size_t first_figure,
                         size_t end_figure) {
  std::vector<size_t> widths(header.size(), 0);
  auto measure = [&](const std::vector<std::string>& row) {
    for (size_t i = 0; i < row.size() && i < widths.size(); ++i)
      widths[i] = std::max(widths[i], row[i].size());
  };
  measure(header);
  for (const auto& row : rows) measure(row);
  std::string text;
  auto write = [&](const std::vector<std::string>& row) {
    std::string line;
    for (size_t i = 0; i < row.size() && i < widths.size(); ++i) {
      const std::string pad(widths[i] - row[i].size(), ' ');
      const bool figure = i >= first_figure && i < end_figure;
      line += (i == 0 ? "" : "  ") + (figure ? pad + row[i] : row[i] + pad);
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    text += line + "\n";
  };
  write(header);
  for (const auto& row : rows) write(row);
  return text;
}

}  // namespace quillaro

#ifndef QUILLARO_REPORT_TOOL_ALIGNED_TABLE_H_
#define QUILLARO_REPORT_TOOL_ALIGNED_TABLE_H_

#include <cstddef>
#include <string>
#include <vector>

namespace quillaro {

// `header` and `rows` as plain text for people: columns two blanks apart,
// each as wide as its widest cell, text left-aligned and the figures of
// columns first_figure up to (not including) end_figure right-aligned; no
// blanks at a line's end, LF after each line. Every row has the header's
// number of cells.
std::string AlignedTable(const std::vector<std::string>& header,
                         const std::vector<std::vector<std::string>>& rows, size_t first_figure,
                         size_t end_figure);

}  // namespace quillaro

#endif  // QUILLARO_REPORT_TOOL_ALIGNED_TABLE_H_

#ifndef QUILLARO_REPORT_TOOL_CSV_CELL_H_
#define QUILLARO_REPORT_TOOL_CSV_CELL_H_

#include <string>

namespace quillaro {

// `field` as one CSV cell (RFC 4180): quoted when it holds a comma, a quote
// or a line end. A cell a spreadsheet would take as a formula (its first
// character '=', '+', '-', '@', TAB or CR) gets a leading apostrophe, so
// that a job named "=HYPERLINK(...)" stays text.
std::string CsvCell(const std::string& field);

}  // namespace quillaro

#endif  // QUILLARO_REPORT_TOOL_CSV_CELL_H_

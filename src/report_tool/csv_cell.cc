#include "report_tool/csv_cell.h"

namespace quillaro {

std::string CsvCell(const std::string& field) {
  std::string cell = field;
  if (!cell.empty() && std::string("=+-@\t\r").find(cell.front()) != std::string::npos) {
    cell.insert(cell.begin(), '\'');
  }
  if (cell.find_first_of(",\"\r\n") == std::string::npos) return cell;
  std::string quoted = "\"";
  for (char c : cell) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

}  // namespace quillaro

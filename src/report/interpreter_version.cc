#include "report/interpreter_version.h"

#include <map>
#include <mutex>


namespace quillaro {
namespace {

constexpr int32_t kVersionRunSeconds = 10;

bool IsVersionText(const std::string& text) {
  if (text.empty() || text.size() > 40) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || c == '.')) return false;
  }
  return true;
}

}  // namespace

std::optional<std::string> ParseInterpreterVersion(const std::string& output) {
  const std::string marker = "Version: ";
  const size_t at = output.find(marker);
  const size_t begin = at == std::string::npos ? 0 : at + marker.size();
  std::string line = output.substr(begin, output.find_first_of("\r\n", begin) - begin);
  if (!IsVersionText(line)) return std::nullopt;
  return line;
}

std::optional<std::string> InterpreterVersion(Interpreter interpreter) {
  // Remembered for the life of the process; guarded by `mutex`.
  static std::mutex mutex;
  static std::map<Interpreter, std::optional<std::string>> versions;
  std::lock_guard<std::mutex> lock(mutex);
  const auto known = versions.find(interpreter);
  if (known != versions.end()) return known->second;
  std::string output;
  RunInterpreter(interpreter, u"-q --version", output, kVersionRunSeconds);
  return versions[interpreter] = ParseInterpreterVersion(output);
}

}  // namespace quillaro

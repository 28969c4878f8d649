#include "interp/run_notes.h"

#include <string_view>

namespace quillaro {
namespace {

// Enough to show why a run failed (the interpreters print their error and a
// few lines of context last) without letting a chatty job fill the report.
constexpr size_t kKeptLines = 10;
constexpr size_t kMaxLineBytes = 300;

std::vector<std::string> LastLines(const std::string& output) {
  std::vector<std::string> lines;
  size_t end = output.size();
  while (end > 0 && lines.size() < kKeptLines) {
    const size_t newline = output.rfind('\n', end - 1);
    const size_t begin = newline == std::string::npos ? 0 : newline + 1;
    std::string_view line(output.data() + begin, end - begin);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
    if (!line.empty()) lines.emplace(lines.begin(), line.substr(0, kMaxLineBytes));
    if (newline == std::string::npos) break;
    end = newline;
  }
  return lines;
}

}  // namespace

const char* InterpreterProgramName(Interpreter interpreter) {
  switch (interpreter) {
    case Interpreter::kPs:
      return "gs";
    case Interpreter::kPcl:
      return "gpcl6";
    case Interpreter::kXps:
      break;
  }
  return "gxps";
}

const InterpreterRunNote* StageNote::succeeded_run() const {
  for (const InterpreterRunNote& run : runs) {
    if (run.succeeded()) return &run;
  }
  return nullptr;
}

uint64_t StageNote::elapsed_ms() const {
  uint64_t total = 0;
  for (const InterpreterRunNote& run : runs) total += run.elapsed_ms;
  return total;
}

void StageNote::NoteRun(Interpreter interpreter, int exit_code, const std::string& output,
                        uint64_t elapsed, bool counted_no_pages) {
  InterpreterRunNote run;
  run.interpreter = interpreter;
  run.exit_code = exit_code;
  run.counted_no_pages = counted_no_pages;
  run.elapsed_ms = elapsed;
  if (!run.succeeded()) run.last_lines = LastLines(output);
  runs.push_back(std::move(run));
}

}  // namespace quillaro

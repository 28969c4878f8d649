#include "report/job_failure.h"

namespace quillaro {
namespace {

std::string StageFailure(const char* stage, const StageNote& note) {
  std::string reason = std::string(stage) + " failed:";
  for (size_t i = 0; i < note.runs.size(); ++i) {
    const InterpreterRunNote& run = note.runs[i];
    reason += i == 0 ? " " : ", ";
    reason += InterpreterProgramName(run.interpreter);
    reason +=
        run.counted_no_pages ? " counted no pages" : " exit code " + std::to_string(run.exit_code);
  }
  // The interpreters end with a summary ("Unrecoverable error, exit code
  // 1"); the line that names the error comes before it.
  const std::vector<std::string>& lines = note.runs.back().last_lines;
  for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
    if (line->find("Error:") != std::string::npos || line + 1 == lines.rend()) {
      return reason + ": " + *line;
    }
  }
  return reason;
}

}  // namespace

std::optional<std::string> JobFailureReason(const ReportNotes& notes) {
  if (!notes.refusal.empty()) return notes.refusal;
  if (notes.measurement.note.ran() && notes.measurement.note.succeeded_run() == nullptr) {
    return StageFailure("measurement", notes.measurement.note);
  }
  if (notes.rendering.ran() && notes.rendering.succeeded_run() == nullptr) {
    return StageFailure("rendering", notes.rendering);
  }
  return std::nullopt;
}

}  // namespace quillaro

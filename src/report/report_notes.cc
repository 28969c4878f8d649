#include "report/report_notes.h"

namespace quillaro {

const InterpreterRunNote* SucceededInterpreterRun(const ReportNotes& notes) {
  for (const StageNote* stage :
       {&notes.rendering, &notes.measurement.note, &notes.media_probe.note}) {
    if (const InterpreterRunNote* run = stage->succeeded_run()) return run;
  }
  return nullptr;
}

}  // namespace quillaro

#ifndef QUILLARO_INTERP_JOB_BODY_H_
#define QUILLARO_INTERP_JOB_BODY_H_

#include <functional>
#include <optional>
#include <string>

namespace quillaro {

// The body of a PJL-wrapped job (the job without its PJL header and
// trailer: what a printer's own language interpreter reads after the PJL
// layer), written beside the job at `job_path` as `job_path` + `suffix`,
// for a stage to read when the interpreters could not read the job whole:
// a header with a vendor's own commands in it (PRESCRIBE's "!R! ...
// EXIT;"), or a PDF whose offsets the header shifts. None when the job has
// no PJL header with an "@PJL ENTER LANGUAGE" line, the body is empty, or
// the file cannot be written. The caller removes the file.
std::optional<std::string> WritePjlJobBody(const std::string& job_path, const char* suffix);

// What every stage does with a job: `run` on the job file at `job_path`;
// when that gives 0 and the job has a PJL body (WritePjlJobBody with
// `suffix`), `run` once more on the body, which is removed after. Returns
// the last result; blocks as `run` does.
int RunOnJobOrItsBody(const std::string& job_path, const char* suffix,
                      const std::function<int(const std::string& input)>& run);

}  // namespace quillaro

#endif  // QUILLARO_INTERP_JOB_BODY_H_

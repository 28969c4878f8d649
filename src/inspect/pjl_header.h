#ifndef QUILLARO_INSPECT_PJL_HEADER_H_
#define QUILLARO_INSPECT_PJL_HEADER_H_

#include <cstdint>
#include <string>

namespace quillaro {

// The "@PJL SET PAPER" value in upper case; empty when there is none.
std::string GetPjlPaper(const std::string& path);

// The "@PJL SET QTY" value read as atoi reads it; 1 when there is none.
int32_t GetPjlCopies(const std::string& path);

// Splits a PJL-wrapped job into its PJL header, its body and its trailer, so
// that header + body + trailer are the file's bytes exactly. Returns 1 when
// the job was split, 0 otherwise (outputs then unspecified).
int32_t SplitPjlJob(const std::string& path, std::string& header, std::string& body,
                    std::string& trailer);

}  // namespace quillaro

#endif  // QUILLARO_INSPECT_PJL_HEADER_H_

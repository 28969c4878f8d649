#ifndef QUILLARO_INSPECT_PJL_HEADER_H_
#define QUILLARO_INSPECT_PJL_HEADER_H_

#include <cstdint>
#include <string>

namespace quillaro {

// Values from a job's PJL header, read by the keyword-value scan GetPjlValue
// (language_detection.h): the first 100 text-mode lines of any file, with or
// without UEL. Nothing is logged; no state is kept.

// The "@PJL SET PAPER" value in upper case, untrimmed (so "@PJL SET PAPER =
// A4" gives " A4"); empty when there is none or the file cannot be opened.
std::string GetPjlPaper(const std::string& path);

// The "@PJL SET QTY" value read as atoi reads it (leading white space, an
// optional sign, digits; no digits give 0; beyond the 32-bit range the
// nearest limit), whatever its sign. 1 when there is no usable line, when its
// "=" ends the line, or when the file cannot be opened.
int32_t GetPjlCopies(const std::string& path);

// Splits a PJL-wrapped job into its PJL header (up to and including the LF
// that ends the first "@PJL ENTER LANGUAGE" line), its body (up to the next
// UEL, or to the end) and its trailer (from that UEL, or empty), so that
// header + body + trailer are the file's bytes exactly. The whole file is
// read into memory. Returns 1 when the job was split. Returns 0 and leaves
// the strings untouched when the first line holds no UEL or the file cannot
// be opened; returns 0 with all three emptied when there is no language line,
// no LF after it, or the file cannot be read whole.
int32_t SplitPjlJob(const std::string& path, std::string& header, std::string& body,
                    std::string& trailer);

// Splits a PJL-wrapped job whose header has no "@PJL ENTER LANGUAGE" line,
// as foomatic's PCL drivers write it (the printer tells the language from
// the content): the header runs from the start through the LF that ends the
// last of the "@PJL" lines following the UEL on the first line (blank lines
// between them included), the body up to the next UEL (or to the end), the
// trailer from there. header + body + trailer are the file's bytes exactly.
// Returns 0 with all three emptied when the first line holds no UEL, no
// line ends the header, the body is empty, or the file cannot be read whole.
int32_t SplitPjlJobAtHeaderEnd(const std::string& path, std::string& header, std::string& body,
                               std::string& trailer);

}  // namespace quillaro

#endif  // QUILLARO_INSPECT_PJL_HEADER_H_

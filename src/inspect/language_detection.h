#ifndef QUILLARO_INSPECT_LANGUAGE_DETECTION_H_
#define QUILLARO_INSPECT_LANGUAGE_DETECTION_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace quillaro {

// The Universal Exit Language sequence that opens and closes a PJL-wrapped
// job.
inline constexpr std::string_view kUel = "\x1b%-12345X";

// Tests that tell a job file's page-description language from its first
// bytes and lines. Each opens the file by its narrow path, reads only what it
// needs, and returns 1 for yes and 0 for no (0 also when the file cannot be
// opened). Lines are read as a Windows text-mode stream reads them (CR LF is
// one LF, a byte 0x1A ends the data; see TextModeReader) and end at LF. The
// tests keep no state and may run on several threads at once; whatever the
// file, each holds only a fixed buffer and a few bytes of the line it reads.

// The first line contains the Universal Exit Language sequence ESC "%-12345X".
int32_t HasUel(const std::string& path);
// One of the first 100 lines starts with "%!ps" or "%!PS".
int32_t IsPostScript(const std::string& path);
// The first line starts with "%PDF" or "%pdf".
int32_t IsPdf(const std::string& path);
// PCL 5: ESC and a parameterised-command byte at the start (after a PJL header
// when there is one).
int32_t IsPcl(const std::string& path);
// One of the first 100 lines starts with ") HP-PCL XL;".
int32_t IsPclXl(const std::string& path);
// A ZIP container ("PK") at the start (after a PJL header when there is one).
int32_t IsXps(const std::string& path);

// The value of the first usable "@PJL ENTER LANGUAGE" line among the first
// 100, in upper case; empty when there is none. See GetPjlValue.
std::string GetPjlLanguage(const std::string& path);

// The keyword-value scan shared by the PJL readers. Among the first 100
// lines, the first that contains `keyword` (case-sensitive, anywhere) and has
// exactly one "=" from the keyword to the line end is usable; the value is
// everything after that "=", untrimmed, upper-cased byte by byte (only "a" to
// "z" change). A usable line whose "=" ends it gives the empty value. Empty
// when no line is usable or the file cannot be opened. Only the first 4096
// bytes of a value are kept: values are names and numbers a few bytes long,
// and a job that puts megabytes of data behind a keyword without LF must not
// make the scan hold them. `keyword` must be non-empty and hold neither "="
// nor LF (it never could be split off); otherwise the result is empty.
std::string GetPjlValue(const std::string& path, const std::string& keyword);

}  // namespace quillaro

#endif  // QUILLARO_INSPECT_LANGUAGE_DETECTION_H_

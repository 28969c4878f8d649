#ifndef QUILLARO_INSPECT_LANGUAGE_DETECTION_H_
#define QUILLARO_INSPECT_LANGUAGE_DETECTION_H_

#include <cstdint>
#include <string>

namespace quillaro {

// Tests that tell a job file's page-description language from its first
// bytes and lines. Each opens the file by its narrow path, reads only what it
// needs, and returns 1 for yes and 0 for no (0 also when the file cannot be
// opened). Lines are read as a Windows text-mode stream reads them.

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
// 100, in upper case; empty when there is none.
std::string GetPjlLanguage(const std::string& path);

// The keyword-value scan shared by the PJL readers: the value after "=" on the
// first usable line among the first 100 that contains `keyword`, as the text
// stands in the file (callers upper-case it); empty when there is none.
std::string GetPjlValue(const std::string& path, const std::string& keyword);

}  // namespace quillaro

#endif  // QUILLARO_INSPECT_LANGUAGE_DETECTION_H_

#ifndef QUILLARO_CONFIG_TEXT_UTILS_H_
#define QUILLARO_CONFIG_TEXT_UTILS_H_

#include <cstdint>
#include <string>
#include <vector>

namespace quillaro {

// Narrow text (system code page) to UTF-16; bytes that are not valid text
// are kept as lone surrogates and come back from ToNarrow (see
// platform/code_page.h).
// Embedded NUL bytes are converted too. Empty input gives empty output.
std::u16string ToWide(const std::string& narrow);
// UTF-16 to narrow text; what the code page cannot hold becomes "?".
std::string ToNarrow(const std::u16string& wide);

// "%i" of `value`, wide and narrow.
std::u16string FormatIntW(int32_t value);
std::string FormatIntA(int32_t value);
// "%.2f" of `value` widened to double (so rounding works on its exact value).
std::string FormatFloatA(float value);

// Replaces every occurrence of `find` in `text`, left to right. Text just
// inserted is never searched again, so a replacement that contains `find`
// does not loop. `find` must not be empty.
void ReplaceAll(std::string& text, const std::string& find, const std::string& replacement);
void ReplaceAll(std::u16string& text, const std::u16string& find,
                const std::u16string& replacement);

// Cuts `input` at every non-overlapping occurrence of `separator` and appends
// the pieces to `pieces` (empty pieces only when `keep_empty`). Returns the
// number of separators found, not the number of pieces. When the input or the
// separator is empty, or no separator occurs, returns 0 and appends nothing.
int32_t SplitString(const std::string& input, const std::string& separator,
                    std::vector<std::string>& pieces, bool keep_empty);

}  // namespace quillaro

#endif  // QUILLARO_CONFIG_TEXT_UTILS_H_

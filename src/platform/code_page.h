#ifndef QUILLARO_PLATFORM_CODE_PAGE_H_
#define QUILLARO_PLATFORM_CODE_PAGE_H_

#include <string>
#include <string_view>

namespace quillaro {

// Conversions between the system's narrow text ("ANSI code page") and UTF-16.
// On Linux the narrow encoding is UTF-8.
//
// Narrow to wide: invalid UTF-8 (stray continuation bytes, overlong forms,
// encoded surrogates, values past U+10FFFF, truncated sequences) becomes
// U+FFFD, one per offending byte sequence. Embedded NUL bytes are kept.
std::u16string NarrowToWide(std::string_view narrow);

// Wide to narrow: a lone surrogate, which UTF-8 cannot carry, becomes "?".
std::string WideToNarrow(std::u16string_view wide);

}  // namespace quillaro

#endif  // QUILLARO_PLATFORM_CODE_PAGE_H_

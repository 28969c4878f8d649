#ifndef QUILLARO_PLATFORM_CODE_PAGE_H_
#define QUILLARO_PLATFORM_CODE_PAGE_H_

#include <string>
#include <string_view>

namespace quillaro {

// Conversions between the system's narrow text ("ANSI code page") and UTF-16.
// On Linux the narrow encoding is UTF-8; on Windows it is the ANSI code page,
// and what that cannot carry becomes "?" (the converter's default character).
//
// Narrow to wide: on Linux every byte of invalid UTF-8 (stray continuation
// bytes, overlong forms, encoded surrogates, values past U+10FFFF, truncated
// sequences) becomes the lone surrogate U+DC00 + byte (U+DC80..U+DCFF), so
// a name in another encoding (a Latin-1 "\xE9") survives the round trip
// byte for byte. Valid UTF-8 converts as such. Embedded NUL bytes are kept.
std::u16string NarrowToWide(std::string_view narrow);

// Wide to narrow: on Linux U+DC80..U+DCFF become their byte again; any other
// lone surrogate, which the narrow encoding cannot carry, becomes "?".
std::string WideToNarrow(std::u16string_view wide);

// A narrow path as libraries that take UTF-8 file names (SQLite) expect it:
// on Linux the same bytes (a file name there is bytes, whatever its
// encoding); on Windows converted from the ANSI code page to UTF-8.
std::string NarrowToUtf8(std::string_view narrow);

}  // namespace quillaro

#endif  // QUILLARO_PLATFORM_CODE_PAGE_H_

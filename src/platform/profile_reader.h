#ifndef QUILLARO_PLATFORM_PROFILE_READER_H_
#define QUILLARO_PLATFORM_PROFILE_READER_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace quillaro {

// Longest value text a profile read delivers, in UTF-16 code units; a longer
// value is cut to this length.
inline constexpr size_t kProfileValueMaxLength = 1023;

// Reads `key` of `[section]` from the INI file `file_path` (narrow path) the
// way the Windows profile functions do: section and key names match without
// regard to case; the first matching section and the first matching key in it
// win; blanks around names and values are dropped; a value enclosed in a
// matching pair of double or single quotes loses them; lines whose first
// non-blank character is ";" are comments. The file may be UTF-16LE or UTF-8,
// each with its byte order mark, or without one in the narrow encoding (UTF-8
// on Linux, the ANSI code page on Windows).
// Returns `default_value` when the file, the section or the key is absent.
// Reads the file afresh on every call; safe from any thread.
std::u16string GetProfileText(std::u16string_view section, std::u16string_view key,
                              std::u16string_view default_value,
                              const std::string& file_path);

// The same key read as an integer by ReadLeadingInteger (leading_integer.h):
// optional blanks, an optional sign, then decimal digits up to the first
// other character (no digits gives 0; values past 32 bits wrap as on
// Windows). `default_value` when absent.
int32_t GetProfileInteger(std::u16string_view section, std::u16string_view key,
                          int32_t default_value, const std::string& file_path);

}  // namespace quillaro

#endif  // QUILLARO_PLATFORM_PROFILE_READER_H_

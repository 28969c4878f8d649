#ifndef QUILLARO_PLATFORM_LEADING_INTEGER_H_
#define QUILLARO_PLATFORM_LEADING_INTEGER_H_

#include <cstdint>
#include <string_view>

namespace quillaro {

// What a number beyond the 32-bit range becomes: the one way the readers of
// integers in settings and in job headers differ.
enum class IntegerOverflow {
  kWrap,      // modulo 2^32, as the Windows profile functions read settings
  kSaturate,  // the nearest 32-bit limit, as the C runtime's atoi reads PJL values
};

// The integer at the start of `text`: optional blanks (space, tab, LF, VT,
// FF, CR), an optional sign, then decimal digits up to the first other
// character; no digits give 0. Pure; any thread.
int32_t ReadLeadingInteger(std::string_view text, IntegerOverflow overflow);
int32_t ReadLeadingInteger(std::u16string_view text, IntegerOverflow overflow);

}  // namespace quillaro

#endif  // QUILLARO_PLATFORM_LEADING_INTEGER_H_

#ifndef QUILLARO_WATERMARK_POSTSCRIPT_STRING_H_
#define QUILLARO_WATERMARK_POSTSCRIPT_STRING_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace quillaro {

// Hostile text made safe to stand between the parentheses of a PostScript
// string literal: the literal then holds exactly the bytes of `text`, and no
// byte of it can close the literal early, continue it onto another line or
// otherwise reach the PostScript scanner as program text.
//
// "(", ")" and "\" get a backslash in front; every byte outside printable
// ASCII (0x20 to 0x7E), line ends and NUL included, becomes a three-digit
// octal escape "\ooo". Printable ASCII other than those three stays as it is,
// so ordinary text reads the same before and after.
//
// The result holds at most `max_length` characters: when the whole escaped
// text would be longer, it ends before the first byte whose escape no longer
// fits, so an escape sequence is never cut in two.
std::string EscapePostScriptString(std::string_view text,
                                   std::size_t max_length = std::string::npos);

}  // namespace quillaro

#endif  // QUILLARO_WATERMARK_POSTSCRIPT_STRING_H_

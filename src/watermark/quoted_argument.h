#ifndef QUILLARO_WATERMARK_QUOTED_ARGUMENT_H_
#define QUILLARO_WATERMARK_QUOTED_ARGUMENT_H_

#include <string>
#include <string_view>

namespace quillaro {

// `text` in double quotes, as one argument of a command line that the child
// process runner splits by the Windows rules (blanks separate, double quotes
// group and are removed, backslashes are literal except before a double
// quote). A double quote inside `text` is written as \" and the backslashes
// right before it, or before the closing quote, are doubled, so the child
// receives `text` exactly, whatever a job's file name holds: no name can end
// its argument early and add options of its own.
//
// Text without double quotes and without a trailing backslash comes back
// simply enclosed in double quotes.
std::string QuoteArgument(std::string_view text);

}  // namespace quillaro

#endif  // QUILLARO_WATERMARK_QUOTED_ARGUMENT_H_

#ifndef QUILLARO_CONFIG_LOG_FILE_H_
#define QUILLARO_CONFIG_LOG_FILE_H_

#include <string>

namespace quillaro {

// Appends one line to log.txt beside the executable: local time stamp
// "YYYY-MM-DD hh:mm:ss", a TAB, the message, CR LF, all in UTF-16LE. A new or
// empty file first gets the byte order mark and the banner. In the message
// CR LF becomes LF and only its first 1024 code units are kept. A file that
// cannot be opened loses the line; the cause is reported on standard error.
// Callers check IsLog; callers run under the machine-wide interpreter lock,
// so lines never interleave.
void WriteLog(std::u16string message);

}  // namespace quillaro

#endif  // QUILLARO_CONFIG_LOG_FILE_H_

#ifndef QUILLARO_CONFIG_LOG_FILE_H_
#define QUILLARO_CONFIG_LOG_FILE_H_

#include <string>

namespace quillaro {

// Appends one line to log.txt beside the executable: local time stamp
// "YYYY-MM-DD hh:mm:ss", a TAB, the message, CR LF, all in UTF-16LE. A new or
// empty file first gets the byte order mark and the banner. In the message
// every control character (below U+0020, U+007F to U+009F) and U+2028,
// U+2029 is escaped as \xHH or \uHHHH (upper-case hex), so that no job name
// can end a line or forge one; of the result only the first 1024 code units
// are kept. A file that cannot be opened loses the line; the cause is
// reported on standard error. Callers check IsLog. Each line is appended with one write, so lines
// of concurrent callers never mix. While the calling thread has a LogLineHold, the line is held
// there instead.
void WriteLog(std::u16string message);

// Holds the log lines that the constructing thread writes, time stamps and
// all, until Release() (or destruction) appends them in their order. A job
// whose stages run side by side uses it to keep its lines in the order the
// stages have when they run one after another. One hold per thread at a
// time; it must be released on the thread that made it.
class LogLineHold {
 public:
  LogLineHold();
  LogLineHold(const LogLineHold&) = delete;
  LogLineHold& operator=(const LogLineHold&) = delete;
  ~LogLineHold();

  // Appends the held lines and lets later lines through. Once only; later
  // calls do nothing.
  void Release();

 private:
  std::u16string lines_;
  bool released_ = false;
  LogLineHold* previous_;
  friend void WriteLog(std::u16string message);
};

}  // namespace quillaro

#endif  // QUILLARO_CONFIG_LOG_FILE_H_

#include "config/log_file.h"

#include <cstdio>

#include "config/path_utils.h"
#include "config/text_utils.h"
#include "platform/file_system.h"
#include "platform/local_time.h"
#include "platform/module_path.h"
#include "platform/os_error.h"

namespace quillaro {
namespace {

constexpr size_t kMessageMaxUnits = 1024;
constexpr char16_t kBanner[] =
    u"Quillaro Log File\r\n==================================================\r\n";

// Each UTF-16 code unit goes to the file as its two bytes, low byte first,
// with no conversion of any kind.
void AppendUtf16Le(std::string& bytes, std::u16string_view text) {
  for (char16_t unit : text) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
}

// A message names jobs, and a job's name is whatever its sender chose: a
// line break, a TAB or an escape sequence in it would let a name forge log
// lines or rewrite a terminal. Every control character (C0, DEL, C1) and
// the Unicode line and paragraph separators become \xHH or \uHHHH, so one
// message is always one line. Backslashes stay as they are: they separate
// the folders of every Windows path.
std::u16string EscapeControlCharacters(const std::u16string& message) {
  std::u16string escaped;
  escaped.reserve(message.size());
  for (char16_t unit : message) {
    const bool control = unit < 0x20 || (unit >= 0x7F && unit <= 0x9F);
    if (!control && unit != 0x2028 && unit != 0x2029) {
      escaped += unit;
      continue;
    }
    char text[8];
    std::snprintf(text, sizeof text, control ? "\\x%02X" : "\\u%04X", unsigned{unit});
    escaped.append(text, text + std::char_traits<char>::length(text));
  }
  return escaped;
}

// The hold of the calling thread, if any.
thread_local LogLineHold* current_hold = nullptr;

void AppendLines(const std::u16string& lines) {
  const std::string path = ToNarrow(GetDataFolder()) + kPathSeparator + "log.txt";
  // A file that cannot be opened loses the lines; the stage goes on regardless
  // and the cause goes to standard error instead.
  OsError error;
  const bool appended = AppendToFile(path, [&](uint64_t current_size) {
    std::string bytes;
    if (current_size == 0) {
      bytes += "\xFF\xFE";
      AppendUtf16Le(bytes, kBanner);
    }
    AppendUtf16Le(bytes, lines);
    return bytes;
  }, &error);
  if (!appended) ReportOsError(error);
}

}  // namespace

LogLineHold::LogLineHold() : previous_(current_hold) { current_hold = this; }

LogLineHold::~LogLineHold() { Release(); }

void LogLineHold::Release() {
  if (released_) return;
  released_ = true;
  current_hold = previous_;
  if (!lines_.empty()) AppendLines(lines_);
}

void WriteLog(std::u16string message) {
  const LocalTime now = CurrentLocalTime();

  message = EscapeControlCharacters(message);
  if (message.size() > kMessageMaxUnits) message.resize(kMessageMaxUnits);

  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d\t", now.year, now.month,
                now.day, now.hour, now.minute, now.second);
  std::u16string line(stamp, stamp + std::char_traits<char>::length(stamp));
  line += message;
  line += u"\r\n";

  if (current_hold != nullptr) {
    current_hold->lines_ += line;
    return;
  }
  AppendLines(line);
}

}  // namespace quillaro

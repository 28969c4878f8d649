#include "inspect/pjl_header.h"

#include <cstdio>
#include <string_view>

#include "inspect/language_detection.h"
#include "platform/file_system.h"
#include "platform/leading_integer.h"
#include "platform/unique_file.h"

namespace quillaro {
namespace {

constexpr std::string_view kLanguageKeyword = "@PJL ENTER LANGUAGE";

// The whole file as bytes, untranslated. Nothing when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string& bytes) {
  // Only a regular file, not reached through a link, has bytes to read.
  UniqueFile file(OpenRegularFileForReading(path));
  if (!file) return false;
  // Size first, so the buffer is allocated once.
  if (std::fseek(file.get(), 0, SEEK_END) != 0) return false;
  const long size = std::ftell(file.get());
  if (size < 0 || std::fseek(file.get(), 0, SEEK_SET) != 0) return false;
  bytes.assign(static_cast<size_t>(size), '\0');
  const size_t got = std::fread(bytes.data(), 1, bytes.size(), file.get());
  // A file that shrank meanwhile yields what is left of it.
  bytes.resize(got);
  return std::ferror(file.get()) == 0;
}

}  // namespace

std::string GetPjlPaper(const std::string& path) { return GetPjlValue(path, "@PJL SET PAPER"); }

int32_t GetPjlCopies(const std::string& path) {
  const std::string value = GetPjlValue(path, "@PJL SET QTY");
  // No quantity line, or one whose "=" ends it: one copy.
  if (value.empty()) return 1;
  return ReadLeadingInteger(value, IntegerOverflow::kSaturate);
}

int32_t SplitPjlJob(const std::string& path, std::string& header, std::string& body,
                    std::string& trailer) {
  if (HasUel(path) == 0) return 0;
  header.clear();
  body.clear();
  trailer.clear();
  std::string data;
  if (!ReadWholeFile(path, data)) return 0;
  const size_t language = data.find(kLanguageKeyword);
  if (language == std::string::npos) return 0;
  const size_t line_feed = data.find('\n', language);
  if (line_feed == std::string::npos) return 0;
  const size_t body_begin = line_feed + 1;
  const size_t uel = data.find(kUel, body_begin);
  const size_t body_end = uel == std::string::npos ? data.size() : uel;
  header.assign(data, 0, body_begin);
  body.assign(data, body_begin, body_end - body_begin);
  trailer.assign(data, body_end, std::string::npos);
  return 1;
}

int32_t SplitPjlJobAtHeaderEnd(const std::string& path, std::string& header, std::string& body,
                               std::string& trailer) {
  header.clear();
  body.clear();
  trailer.clear();
  std::string data;
  if (HasUel(path) == 0 || !ReadWholeFile(path, data)) return 0;
  // The first line (the UEL and what follows it on that line), then every
  // line that is a PJL command or blank.
  size_t line_end = data.find('\n');
  if (line_end == std::string::npos) return 0;
  size_t body_begin = line_end + 1;
  for (;;) {
    const std::string_view rest = std::string_view(data).substr(body_begin);
    const size_t blanks = rest.find_first_not_of("\r\n");
    if (blanks == std::string_view::npos || !rest.substr(blanks).starts_with("@PJL")) break;
    line_end = data.find('\n', body_begin + blanks);
    if (line_end == std::string::npos) return 0;
    body_begin = line_end + 1;
  }
  const size_t uel = data.find(kUel, body_begin);
  const size_t body_end = uel == std::string::npos ? data.size() : uel;
  if (body_end == body_begin) return 0;
  header.assign(data, 0, body_begin);
  body.assign(data, body_begin, body_end - body_begin);
  trailer.assign(data, body_end, std::string::npos);
  return 1;
}

}  // namespace quillaro

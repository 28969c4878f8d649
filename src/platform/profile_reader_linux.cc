#include "platform/profile_reader.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>

#include "platform/code_page.h"
#include "platform/leading_integer.h"
#include "platform/unique_fd_linux.h"

namespace quillaro {
namespace {

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\v' || c == u'\f'; }

std::u16string_view Trim(std::u16string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

char16_t FoldCase(char16_t c) { return (c >= u'a' && c <= u'z') ? c - (u'a' - u'A') : c; }

bool EqualsNoCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  }
  return true;
}

// A settings file is a few hundred bytes; only this much of a bigger one is
// read, so that a runaway file cannot take the service's memory.
constexpr size_t kMaxProfileBytes = 1 << 20;

// The first kMaxProfileBytes of the regular file `path`. A folder, pipe or
// device under that name reads as a missing file (a pipe must not block,
// and reading a folder fails).
std::optional<std::string> ReadProfileBytes(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  struct stat st;
  if (!fd.Valid() || ::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  std::string bytes;
  char block[16384];
  while (bytes.size() < kMaxProfileBytes) {
    const ssize_t got = ::read(fd.Get(), block, sizeof block);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    bytes.append(block, static_cast<size_t>(got));
  }
  if (bytes.size() > kMaxProfileBytes) bytes.resize(kMaxProfileBytes);
  return bytes;
}

std::optional<std::u16string> ReadFileAsWide(const std::string& path) {
  std::optional<std::string> read = ReadProfileBytes(path);
  if (!read) return std::nullopt;
  const std::string& bytes = *read;
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    std::u16string wide;
    wide.reserve(bytes.size() / 2);
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
      wide.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                           (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    }
    return wide;
  }
  std::string_view view(bytes);
  if (view.starts_with("\xEF\xBB\xBF")) view.remove_prefix(3);
  return NarrowToWide(view);
}

std::optional<std::u16string> FindValue(std::u16string_view section, std::u16string_view key,
                                        const std::string& file_path) {
  std::optional<std::u16string> text = ReadFileAsWide(file_path);
  if (!text) return std::nullopt;
  std::u16string_view rest(*text);
  bool in_section = false, section_seen = false;
  while (!rest.empty()) {
    size_t eol = rest.find(u'\n');
    std::u16string_view line = Trim(rest.substr(0, eol));
    rest = eol == std::u16string_view::npos ? std::u16string_view() : rest.substr(eol + 1);
    if (line.empty() || line.front() == u';') continue;
    if (line.front() == u'[') {
      // Only the first section of that name counts: a repeated header ends
      // the search rather than opening a second place to look.
      if (in_section) return std::nullopt;
      size_t close = line.find(u']');
      std::u16string_view name = Trim(line.substr(1, close == std::u16string_view::npos ? line.size() - 1 : close - 1));
      in_section = !section_seen && EqualsNoCase(name, section);
      section_seen = section_seen || in_section;
      continue;
    }
    if (!in_section) continue;
    size_t eq = line.find(u'=');
    if (eq == std::u16string_view::npos) continue;
    if (!EqualsNoCase(Trim(line.substr(0, eq)), key)) continue;
    std::u16string_view value = Trim(line.substr(eq + 1));
    if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
        value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    return std::u16string(value.substr(0, kProfileValueMaxLength));
  }
  return std::nullopt;
}

}  // namespace

std::u16string GetProfileText(std::u16string_view section, std::u16string_view key,
                              std::u16string_view default_value,
                              const std::string& file_path) {
  std::optional<std::u16string> value = FindValue(section, key, file_path);
  if (!value) return std::u16string(default_value.substr(0, kProfileValueMaxLength));
  return *value;
}

int32_t GetProfileInteger(std::u16string_view section, std::u16string_view key,
                          int32_t default_value, const std::string& file_path) {
  std::optional<std::u16string> value = FindValue(section, key, file_path);
  if (!value) return default_value;
  return ReadLeadingInteger(*value, IntegerOverflow::kWrap);
}

}  // namespace quillaro

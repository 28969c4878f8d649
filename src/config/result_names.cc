#include "config/result_names.h"

#include <cstdint>
#include <cstdio>

#include "config/text_utils.h"
#include "platform/file_system.h"

namespace quillaro {
namespace {

uint64_t Fnv1a64(const std::string& bytes) {
  uint64_t hash = 14695981039346656037ull;
  for (unsigned char byte : bytes) {
    hash ^= byte;
    hash *= 1099511628211ull;
  }
  return hash;
}

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }

}  // namespace

std::u16string MarkerFileName(const std::u16string& job_name, std::u16string_view suffix) {
  std::u16string name = job_name;
  name += suffix;
  if (FileNameFits(ToNarrow(name))) return name;
  char hash[24];
  std::snprintf(hash, sizeof hash, "~%016llx",
                static_cast<unsigned long long>(Fnv1a64(ToNarrow(job_name))));
  std::u16string tail = ToWide(hash);
  tail += suffix;
  // Shortest first would be cheaper to find, but names are at most a few
  // hundred units and this runs once per job.
  for (size_t head = job_name.size(); head-- > 0;) {
    if (head > 0 && IsHighSurrogate(job_name[head - 1])) continue;  // half a character
    name = job_name.substr(0, head) + tail;
    if (FileNameFits(ToNarrow(name))) return name;
  }
  return tail;
}

}  // namespace quillaro

#include "node/file_bundle.h"

#include <cstdint>
#include <cstdio>
#include <string_view>

#include "platform/file_system.h"
#include "platform/unique_file.h"

namespace quillaro {
namespace {

constexpr std::string_view kMagic = "QRB1";

void PutLittleEndian(std::string& out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// Reads `bytes` little-endian bytes at `*pos`; false when they run past the end.
bool GetLittleEndian(std::string_view in, size_t* pos, int bytes, uint64_t* value) {
  if (in.size() - *pos < static_cast<size_t>(bytes)) return false;
  *value = 0;
  for (int i = 0; i < bytes; ++i) {
    *value |= static_cast<uint64_t>(static_cast<unsigned char>(in[*pos + i])) << (8 * i);
  }
  *pos += bytes;
  return true;
}

bool IsPlainFileName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

}  // namespace

std::string EncodeBundle(const std::vector<BundledFile>& files) {
  std::string out(kMagic);
  for (const BundledFile& file : files) {
    PutLittleEndian(out, file.name.size(), 4);
    out += file.name;
    PutLittleEndian(out, file.bytes.size(), 8);
    out += file.bytes;
  }
  return out;
}

std::optional<std::vector<BundledFile>> DecodeBundle(const std::string& body) {
  std::string_view in(body);
  if (in.substr(0, kMagic.size()) != kMagic) return std::nullopt;
  size_t pos = kMagic.size();
  std::vector<BundledFile> files;
  while (pos < in.size()) {
    uint64_t name_size = 0;
    uint64_t content_size = 0;
    if (!GetLittleEndian(in, &pos, 4, &name_size) || in.size() - pos < name_size) {
      return std::nullopt;
    }
    std::string_view name = in.substr(pos, name_size);
    pos += name_size;
    if (!IsPlainFileName(name) || !GetLittleEndian(in, &pos, 8, &content_size) ||
        in.size() - pos < content_size) {
      return std::nullopt;
    }
    files.push_back({std::string(name), std::string(in.substr(pos, content_size))});
    pos += content_size;
  }
  return files;
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
  const UniqueFile file(OpenRegularFileForReading(path));
  if (!file) return std::nullopt;
  std::string bytes;
  char buffer[65536];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) bytes.append(buffer, got);
  if (std::ferror(file.get()) != 0) return std::nullopt;
  return bytes;
}

}  // namespace quillaro

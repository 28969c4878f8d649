// A client that writes a job slowly, as a Windows program copying over a slow
// network would: it holds the file open for writing throughout and writes it
// 1 KiB every 200 ms. Under Wine only a Windows process's open handle is seen
// by other Windows processes, so the service test uses this program rather
// than a Linux writer.
//   slow_writer.exe SOURCE DESTINATION
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: slow_writer SOURCE DESTINATION\n");
    return 2;
  }
  std::ifstream source(argv[1], std::ios::binary);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(source)),
                                std::istreambuf_iterator<char>());
  std::FILE* destination = std::fopen(argv[2], "wb");
  if (!source || destination == nullptr) {
    std::fprintf(stderr, "slow_writer: cannot open %s or %s\n", argv[1], argv[2]);
    return 1;
  }
  constexpr size_t kChunk = 1024;
  for (size_t offset = 0; offset < bytes.size(); offset += kChunk) {
    const size_t length = std::min(kChunk, bytes.size() - offset);
    if (std::fwrite(bytes.data() + offset, 1, length, destination) != length) return 1;
    std::fflush(destination);  // the bytes reach the file; the handle stays open
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  return std::fclose(destination) == 0 ? 0 : 1;
}

// One decode of every page image in $QUILLARO_BENCH_PAGES by the image
// library, as the imaging stages decoded PNG page files: the decoding share
// of the floor that bench/e2e.sh compares the service with. Without the
// variable nothing is registered.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "imaging/color_coverage.h"
#include "platform/image_codec.h"

namespace quillaro {
namespace {

void BM_DecodePages(benchmark::State& state, const std::vector<std::string>& pages) {
  InitializeImaging();
  for (auto _ : state) {
    for (const std::string& page : pages) {
      std::optional<ImageFile> image = ImageFile::Open(page);
      std::optional<RgbPixels> pixels =
          image ? image->ReadRgb(kMaxDecodedPageBytes) : std::nullopt;
      if (!pixels) state.SkipWithError(("cannot decode " + page).c_str());
      benchmark::DoNotOptimize(pixels);
    }
  }
}

bool RegisterPages() {
  const char* folder = std::getenv("QUILLARO_BENCH_PAGES");
  if (folder == nullptr) return false;
  std::vector<std::string> pages;
  std::error_code error;
  for (const auto& item : std::filesystem::directory_iterator(folder, error)) {
    if (item.is_regular_file()) pages.push_back(item.path().string());
  }
  benchmark::RegisterBenchmark("DecodePages", BM_DecodePages, pages)
      ->Iterations(1)
      ->Unit(benchmark::kMillisecond)
      ->UseRealTime();
  return true;
}

[[maybe_unused]] const bool registered = RegisterPages();

}  // namespace
}  // namespace quillaro

// Image output of 100-dpi Letter pages (850 x 1100, rendered by gs from the
// PATH): time per page for each output format at a long side of 80 and 1000
// pixels, beside vipsthumbnail and ImageMagick's resize on the same pages
// when those tools are installed (Debian libvips-tools, imagemagick).
//
// The tools are timed over one run on kToolPages pages, so their start-up is
// shared out as it would be in a batch; ours runs in-process per page.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>

#include "imaging/image_output.h"
#include "platform/image_codec.h"
#include "bench_pages.h"

namespace quillaro {
namespace {

constexpr int kToolPages = 20;
constexpr int32_t kQuality = 80;

using bench::WorkFolder;

// kToolPages copies of one rendered page, pages/page_1.png ... ; the first
// is the one our converter reads.
std::optional<std::string> Pages() {
  static const std::optional<std::string> first =
      []() -> std::optional<std::string> {
    std::filesystem::create_directories(WorkFolder() / "pages");
    std::filesystem::create_directories(WorkFolder() / "out");
    const std::filesystem::path png = WorkFolder() / "pages" / "page_1.png";
    if (!bench::RenderTypicalPage(png)) return std::nullopt;
    for (int n = 2; n <= kToolPages; ++n) {
      std::filesystem::copy_file(
          png, WorkFolder() / "pages" / ("page_" + std::to_string(n) + ".png"));
    }
    return png.string();
  }();
  return first;
}

ImageFileFormat FormatOf(int64_t index) {
  constexpr ImageFileFormat kFormats[] = {
      ImageFileFormat::kJpeg, ImageFileFormat::kGif, ImageFileFormat::kPng,
      ImageFileFormat::kTiff};
  return kFormats[index];
}

const char* ExtensionOf(int64_t index) {
  constexpr const char* kExtensions[] = {"jpg", "gif", "png", "tif"};
  return kExtensions[index];
}

void Label(benchmark::State& state) {
  state.SetLabel(std::string(ExtensionOf(state.range(0))) +
                 " L=" + std::to_string(state.range(1)));
}

// Args: format index (jpg, gif, png, tiff), long side.
void BM_Quillaro(benchmark::State& state) {
  InitializeImaging();
  const std::optional<std::string> page = Pages();
  if (!page) return state.SkipWithError("no page image");
  const std::string target =
      (WorkFolder() / "out" / (std::string("q.") + ExtensionOf(state.range(0))))
          .string();
  for (auto _ : state) {
    std::optional<ImageFile> image = ImageFile::Open(*page);
    if (!image) return state.SkipWithError("cannot open the page");
    const PixelSize size = ScaledPageSize(image->width(), image->height(),
                                          static_cast<int32_t>(state.range(1)));
    if (!image->SaveScaled(target, size.width, size.height,
                           FormatOf(state.range(0)), kQuality)) {
      return state.SkipWithError("save failed");
    }
  }
  Label(state);
}

// Runs `command` once per iteration over all pages and books the time per page.
void TimeToolPerPage(benchmark::State& state, const std::string& tool,
                     const std::string& command) {
  if (!std::filesystem::exists(tool))
    return state.SkipWithError((tool + " not installed").c_str());
  if (!Pages()) return state.SkipWithError("no page image");
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    if (std::system(command.c_str()) != 0)
      return state.SkipWithError("tool failed");
    const std::chrono::duration<double> elapsed =
        std::chrono::steady_clock::now() - start;
    state.SetIterationTime(elapsed.count() / kToolPages);
  }
  Label(state);
}

std::string TargetSize(int64_t long_side) {
  const PixelSize size =
      ScaledPageSize(850, 1100, static_cast<int32_t>(long_side));
  return std::to_string(size.width) + "x" + std::to_string(size.height);
}

void BM_Vipsthumbnail(benchmark::State& state) {
  const std::string pages = (WorkFolder() / "pages").string();
  const std::string out = (WorkFolder() / "out").string();
  const std::string command =
      "vipsthumbnail '" + pages + "'/page_*.png --size " +
      TargetSize(state.range(1)) + "! -o '" + out + "/%s_v." +
      ExtensionOf(state.range(0)) + (state.range(0) == 1 ? "" : "[Q=80]") +
      "' >/dev/null 2>&1";
  TimeToolPerPage(state, "/usr/bin/vipsthumbnail", command);
}

void BM_ImageMagickResize(benchmark::State& state) {
  const std::string pages = (WorkFolder() / "pages").string();
  const std::string out = (WorkFolder() / "out").string();
  const std::string command = "/usr/bin/mogrify -path '" + out + "' -resize " +
                              TargetSize(state.range(1)) +
                              "! -quality 80 -format " +
                              ExtensionOf(state.range(0)) + " '" + pages +
                              "'/page_*.png >/dev/null 2>&1";
  TimeToolPerPage(state, "/usr/bin/mogrify", command);
}

void Formats(benchmark::internal::Benchmark* benchmark) {
  for (int64_t long_side : {80, 1000}) {
    for (int64_t format = 0; format < 4; ++format)
      benchmark->Args({format, long_side});
  }
  benchmark->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_Quillaro)->Apply(Formats)->UseRealTime();
BENCHMARK(BM_Vipsthumbnail)->Apply(Formats)->UseManualTime()->Iterations(3);
BENCHMARK(BM_ImageMagickResize)->Apply(Formats)->UseManualTime()->Iterations(2);

}  // namespace
}  // namespace quillaro

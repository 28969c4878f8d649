// Colour coverage of one 100-dpi Letter page (850 x 1100): decoding the page
// file alone, the scan alone, and both, as the stage does them. The scan
// should add at most a fifth to the decoding.
//
// Pages: 0 a typical rendered page (text lines, a colour chart, a grey
// ramp) drawn by gs from the PATH; 1 a worst case where nearly every pixel
// differs from its neighbour (noise), so no run of one colour helps.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>

#include "imaging/color_coverage.h"
#include "platform/image_codec.h"
#include "bench_pages.h"

namespace quillaro {
namespace {

constexpr int kWidth = 850;
constexpr int kHeight = 1100;

using bench::WorkFolder;

// Path of the page PNG of the given kind, made once per run.
std::optional<std::string> PagePng(int kind) {
  const std::filesystem::path png =
      WorkFolder() / ("page" + std::to_string(kind) + ".png");
  if (std::filesystem::exists(png)) return png.string();
  if (kind == 0) {
    if (!bench::RenderTypicalPage(png)) return std::nullopt;
    return png.string();
  }
  // Noise, written as a PPM and saved as a PNG by the image backend.
  const std::filesystem::path ppm = WorkFolder() / "noise.ppm";
  {
    std::ofstream out(ppm, std::ios::binary);
    out << "P6\n" << kWidth << " " << kHeight << "\n255\n";
    std::mt19937 random(1);
    for (int i = 0; i < kWidth * kHeight * 3; ++i)
      out.put(static_cast<char>(random() & 0xFF));
  }
  std::optional<ImageFile> noise = ImageFile::Open(ppm.string());
  if (!noise || !noise->SaveScaled(png.string(), kWidth, kHeight,
                                   ImageFileFormat::kPng, 80)) {
    return std::nullopt;
  }
  return png.string();
}

std::optional<RgbPixels> Decode(const std::string& path) {
  std::optional<ImageFile> image = ImageFile::Open(path);
  if (!image) return std::nullopt;
  return image->ReadRgb(size_t{1} << 30);
}

void BM_Decode(benchmark::State& state) {
  InitializeImaging();
  const std::optional<std::string> page =
      PagePng(static_cast<int>(state.range(0)));
  if (!page) return state.SkipWithError("no page image");
  for (auto _ : state) {
    std::optional<RgbPixels> pixels = Decode(*page);
    if (!pixels) return state.SkipWithError("decoding failed");
    benchmark::DoNotOptimize(pixels->data());
  }
}

void BM_Scan(benchmark::State& state) {
  InitializeImaging();
  const std::optional<std::string> page =
      PagePng(static_cast<int>(state.range(0)));
  if (!page) return state.SkipWithError("no page image");
  const std::optional<RgbPixels> pixels = Decode(*page);
  if (!pixels) return state.SkipWithError("decoding failed");
  for (auto _ : state) {
    PageInkSums sums;
    AddRgbPixelsInk(pixels->data(), pixels->size_bytes() / 3, sums);
    benchmark::DoNotOptimize(sums);
  }
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

void BM_DecodeAndScan(benchmark::State& state) {
  InitializeImaging();
  const std::optional<std::string> page =
      PagePng(static_cast<int>(state.range(0)));
  if (!page) return state.SkipWithError("no page image");
  for (auto _ : state) {
    std::optional<RgbPixels> pixels = Decode(*page);
    if (!pixels) return state.SkipWithError("decoding failed");
    PageInkSums sums;
    AddRgbPixelsInk(pixels->data(), pixels->size_bytes() / 3, sums);
    benchmark::DoNotOptimize(sums);
  }
}

// The direct formula, pixel by pixel, for comparison with the table scan.
void BM_ScanDirect(benchmark::State& state) {
  InitializeImaging();
  const std::optional<std::string> page =
      PagePng(static_cast<int>(state.range(0)));
  if (!page) return state.SkipWithError("no page image");
  const std::optional<RgbPixels> pixels = Decode(*page);
  if (!pixels) return state.SkipWithError("decoding failed");
  for (auto _ : state) {
    PageInkSums sums;
    const uint8_t* rgb = pixels->data();
    for (size_t i = 0; i < pixels->size_bytes(); i += 3) {
      AddPixelInk(rgb[i], rgb[i + 1], rgb[i + 2], sums);
    }
    benchmark::DoNotOptimize(sums);
  }
}

// The decoder runs on the image library's worker threads too: the CPU
// column counts the whole process.
BENCHMARK(BM_Decode)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime();
BENCHMARK(BM_Scan)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime();
BENCHMARK(BM_DecodeAndScan)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime();
BENCHMARK(BM_ScanDirect)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime();

}  // namespace
}  // namespace quillaro

#ifndef QUILLARO_BENCH_BENCH_PAGES_H_
#define QUILLARO_BENCH_BENCH_PAGES_H_

// Page files the imaging benchmarks share: a work folder for one run and a
// typical 100-dpi Letter page rendered by gs from the PATH.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace quillaro::bench {

// A folder for the page files of this run, removed when the run ends.
inline const std::filesystem::path& WorkFolder() {
  struct Holder {
    Holder()
        : path(std::filesystem::temp_directory_path() /
               ("quillaro_bench_" + std::to_string(std::random_device()()))) {
      std::filesystem::create_directories(path);
    }
    ~Holder() {
      std::error_code error;
      std::filesystem::remove_all(path, error);
    }
    std::filesystem::path path;
  };
  static const Holder folder;
  return folder.path;
}

// Text lines, a colour chart and a grey ramp: what a rendered office page
// looks like to the imaging stages.
inline constexpr const char* kTypicalPage = R"(%!PS
/Helvetica findfont 10 scalefont setfont
0 setgray
60 1 58 { /line exch def
  72 720 line 11 mul sub moveto
  (Quillaro imaging: the quick brown fox jumps over the lazy dog 0123456789) show
} for
0 1 5 { /i exch def
  i 6 div 1 i 6 div sub 0.5 setrgbcolor 72 i 40 mul add 60 36 36 rectfill
} for
0 1 63 { /i exch def i 63 div setgray 320 i 3 mul add 60 3 80 rectfill } for
showpage
)";

// Renders kTypicalPage to `png` (24-bit, 100 dpi, Letter). False when gs failed.
inline bool RenderTypicalPage(const std::filesystem::path& png) {
  const std::filesystem::path ps = WorkFolder() / "typical_page.ps";
  std::ofstream(ps) << kTypicalPage;
  const std::string command =
      "gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=png16m -r100 -sPAPERSIZE=letter -dFIXEDMEDIA "
      "'-sOutputFile=" + png.string() + "' '" + ps.string() + "' >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

}  // namespace quillaro::bench

#endif  // QUILLARO_BENCH_BENCH_PAGES_H_

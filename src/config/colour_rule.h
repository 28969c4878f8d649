#ifndef QUILLARO_CONFIG_COLOUR_RULE_H_
#define QUILLARO_CONFIG_COLOUR_RULE_H_

#include <cstdint>

namespace quillaro {

// The numbers of the colour verdict, settings of the service (the
// Report... keys of settings.ini) with these defaults; see docs/report.md
// for the measurements behind them. Every report carries the numbers that
// judged its pages. The imaging stage applies them (imaging/page_verdict.h).
struct ColourRule {
  // A pixel counts as coloured when its largest and smallest channels differ
  // by more than this, and as inked when its darkest channel is below
  // inked_below.
  int chroma_threshold = 24;
  int inked_below = 248;
  // A page is colour when at least this many of its pixels are coloured.
  uint64_t min_coloured_pixels = 64;
  // A coloured pixel counts only when colour survives its neighbourhood: the
  // mean of each channel over the square of this radius around it (at 100
  // dpi; beyond the page, white paper) must also differ by more than
  // chroma_threshold. Gray or black text printed or scanned a little out of
  // register has a coloured fringe on each side of every stroke, one the
  // other's complement, and their mean is gray; a thin coloured rule or a
  // small logo keeps its colour.
  int neighbourhood_radius_px = 2;
  bool operator==(const ColourRule&) const = default;
};

// The bounds a configured rule is held to (a value outside falls back to its
// default): a chroma of 255 or more and a page of no ink could never be
// told; a radius of 10 already averages over a 5 mm square.
inline constexpr int kMaxChromaThreshold = 254;
inline constexpr int kMaxInkedBelow = 256;
inline constexpr int kMaxNeighbourhoodRadiusPx = 10;

}  // namespace quillaro

#endif  // QUILLARO_CONFIG_COLOUR_RULE_H_

// The watermark prolog: a PostScript program that, run ahead of a job,
// installs an end-of-page procedure stroking one line of text in outline onto
// every page as it is shown.

#include <cstddef>
#include <cstdio>
#include <string>

#include "config/job.h"
#include "config/text_utils.h"
#include "watermark/postscript_string.h"

namespace quillaro {
namespace {

// Font name, font size, left offset, bottom offset, gray level, text.
constexpr char kPrologTemplate[] =
    "<<\n\t/EndPage\n\t{\n\t  exch pop 0 eq\n\t  {\n\t\tsave initgraphics\n"
    "\t\t/%s %i selectfont\n\t\t%i %i moveto\n\t\t%s setgray\n"
    "\t\t(%s) false charpath\n\t\tstroke\n\t\trestore\n\t\ttrue\n"
    "\t  }\n\t  {\n\t\tfalse\n\t  } ifelse\n\t}\n\t>> setpagedevice";

// The prolog never exceeds this many characters.
constexpr std::size_t kPrologMaxLength = 4095;

}  // namespace

std::string Job::BuildWatermarkProlog(std::string text) const {
  const std::string font = ToNarrow(WMFontType);
  const std::string gray_level = ToNarrow(WMGrayLevel);

  // The text comes from whoever sent the job, and the stamping run is not
  // sandboxed, so it is escaped: whatever it holds stays inside its string
  // literal. A text too long for the prolog is shortened rather than the
  // prolog cut after it: a prolog that ends inside the literal is a syntax
  // error, and the job would then not be stamped at all.
  const int fixed_length = std::snprintf(nullptr, 0, kPrologTemplate, font.c_str(), WMFontSize,
                                         WMLeftOffset, WMBottomOffset, gray_level.c_str(), "");
  std::size_t text_room = 0;
  if (fixed_length >= 0 && static_cast<std::size_t>(fixed_length) < kPrologMaxLength) {
    text_room = kPrologMaxLength - static_cast<std::size_t>(fixed_length);
  }
  const std::string escaped_text = EscapePostScriptString(text, text_room);

  char prolog[kPrologMaxLength + 1];
  const int length =
      std::snprintf(prolog, sizeof prolog, kPrologTemplate, font.c_str(), WMFontSize, WMLeftOffset,
                    WMBottomOffset, gray_level.c_str(), escaped_text.c_str());
  if (length < 0) return std::string();
  return std::string(prolog);
}

}  // namespace quillaro

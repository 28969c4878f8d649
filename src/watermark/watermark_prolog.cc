// The watermark prolog: a PostScript program that, run ahead of a job,
// installs an end-of-page procedure stroking one line of text in outline onto
// every page as it is shown.

#include <cstddef>
#include <cstdio>
#include <string>

#include "config/text_utils.h"
#include "watermark/postscript_string.h"
#include "watermark/watermark_pipeline.h"

namespace quillaro {
namespace {

// Font name, font size, left offset, bottom offset, gray level, text.
constexpr char kPrologTemplate[] =
    "<<\n\t/EndPage\n\t{\n\t  exch pop 0 eq\n\t  {\n\t\tsave initgraphics\n"
    "\t\t/%s %i selectfont\n\t\t%i %i moveto\n\t\t%s setgray\n"
    "\t\t(%s) false charpath\n\t\tstroke\n\t\trestore\n\t\ttrue\n"
    "\t  }\n\t  {\n\t\tfalse\n\t  } ifelse\n\t}\n\t>> setpagedevice";

// The prolog never exceeds this many characters; a longer one is cut here.
constexpr std::size_t kPrologMaxLength = 4095;

}  // namespace

std::string BuildWatermarkProlog(const Settings& settings, const std::string& text) {
  const std::string font = ToNarrow(settings.WMFontType);
  const std::string gray_level = ToNarrow(settings.WMGrayLevel);

  // The text comes from whoever sent the job and the stamping run reads
  // files, so it is escaped: whatever it holds stays inside its string
  // literal. The prolog is still cut at its fixed size: a text too long for it
  // leaves the literal unclosed, which the interpreter rejects as a syntax
  // error, so an over-long text fails the job but can never run as code.
  const std::string escaped_text = EscapePostScriptString(text);

  char prolog[kPrologMaxLength + 1];
  const int length = std::snprintf(
      prolog, sizeof prolog, kPrologTemplate, font.c_str(), settings.WMFontSize,
      settings.WMLeftOffset, settings.WMBottomOffset, gray_level.c_str(), escaped_text.c_str());
  if (length < 0) return std::string();
  return std::string(prolog);
}

}  // namespace quillaro

#ifndef QUILLARO_REPORT_PRINT_INTENT_H_
#define QUILLARO_REPORT_PRINT_INTENT_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillaro {

// How the sheets of a job are printed.
enum class DuplexMode { kSimplex, kLongEdge, kShortEdge };

// "simplex", "long_edge" or "short_edge".
const char* DuplexModeName(DuplexMode mode);

// What a job asks of colour: nothing (the pages print as they are), colour,
// or grayscale (every page prints in gray, whatever its content).
enum class ColourMode { kAuto, kColour, kGrayscale };

// "auto", "colour" or "grayscale".
const char* ColourModeName(ColourMode mode);

// What one page asks of the printer, in the order the pages come: the
// duplex and copies in effect for it, each only when the job has said it by
// then (none: the job's default, from PJL).
struct PageRequest {
  std::optional<DuplexMode> duplex;
  std::optional<int32_t> copies;  // of this page, 1 to 9999
  bool operator==(const PageRequest&) const = default;
};

// What a job's own page description asks of the printer, beside its PJL
// header: each only when the job says it. Read from the job's first bytes
// (the setup a driver writes before the first page), never from a page's
// content.
struct PdlIntent {
  std::optional<int32_t> copies;     // of each page, 1 to 9999
  std::optional<DuplexMode> duplex;
  std::optional<ColourMode> colour;  // PostScript /ProcessColorModel
  std::optional<std::string> user;   // PostScript %%For
  std::optional<std::string> title;  // PostScript %%Title, PDF /Title
  // Every page the scan found, with what the job asks of it; a job may
  // change duplex and copies between pages. Only as many as the bytes read
  // hold, and found by the scan's own reckoning of where pages end, so a
  // caller checks the count against the interpreter's.
  std::vector<PageRequest> pages;
};

// PostScript: the DSC comments %%For and %%Title of the header; copies from
// /NumCopies, /#copies (and the NumCopies feature comments CUPS writes),
// duplex from /Duplex and /Tumble, colour from /ProcessColorModel
// (/DeviceGray: grayscale; /DeviceRGB, /DeviceCMYK: colour), the last value before the first
// %%Page comment (a driver's setup), or in all of `head` when it has none.
// Pages: one per %%Page comment, with the setup's requests and those of its
// own section and the pages before it.
PdlIntent PostScriptIntent(std::string_view head);

// PCL 5: copies from ESC&l#X and duplex from ESC&l#S (0 simplex, 1 long
// edge, 2 short edge), the first of each; binary data the escapes announce
// is stepped over, not read as escapes. Pages: a page ends at a form feed,
// or at a reset (ESC E) or a duplex request once something marked it, and
// at the end of the data when marked; each takes the requests in effect
// when it ends.
PdlIntent PclIntent(std::string_view head);

// PCL XL: the first page's copies (EndPage's PageCopies) and duplex
// (BeginPage's DuplexPageMode or SimplexPageMode), from a token scan of the
// stream after its "HP-PCL XL" header line; pages: each EndPage, with its
// own. Stops at the first byte that is no PCL XL token.
PdlIntent PclXlIntent(std::string_view head);

// PDF: the document title of the Info dictionary the trailer names, looked
// for in `head` and `tail` (the file's first and last bytes, which may
// overlap), as UTF-8; none for an encrypted file or when not found.
std::optional<std::string> PdfTitle(std::string_view head, std::string_view tail);

// The text of a PostScript or PDF string that starts at `text` (a literal
// "(...)" with its escapes, or a hex string "<...>"), as UTF-8: UTF-16BE
// with its byte order mark is converted, other bytes are taken as Latin-1
// unless they already form UTF-8. None when `text` holds no string.
std::optional<std::string> DecodeDocumentString(std::string_view text);

}  // namespace quillaro

#endif  // QUILLARO_REPORT_PRINT_INTENT_H_

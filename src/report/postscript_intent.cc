// What a PostScript job asks of the printer: its DSC header names the user
// and the title, and the setup a driver writes before the first page sets
// copies and duplex through the page device.

#include <cctype>

#include "report/print_intent.h"

namespace quillaro {
namespace {

// The header comments end here at the latest; CUPS and the drivers write
// %%For and %%Title among the first few lines.
constexpr size_t kMaxHeaderLines = 200;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// A DSC value: a PostScript string, or the text itself.
std::optional<std::string> CommentValue(std::string_view value) {
  value = TrimBlanks(value);
  if (value.empty()) return std::nullopt;
  if (value.front() == '(') return DecodeDocumentString(value);
  // Appended piece by piece: GCC 12 sees a false overlap (-Wrestrict) in "(" + string.
  std::string literal(1, '(');
  literal.append(value).append(1, ')');
  return DecodeDocumentString(literal);
}

// The whole number after `at` in `text`, blanks skipped: 1 to 9999.
std::optional<int32_t> CountAfter(std::string_view text, size_t at) {
  while (at < text.size() && IsBlank(text[at])) ++at;
  int32_t count = 0;
  size_t digits = 0;
  while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])) && digits < 5) {
    count = count * 10 + (text[at++] - '0');
    ++digits;
  }
  if (digits == 0 || digits > 4 || count < 1) return std::nullopt;
  if (at < text.size() && std::isalnum(static_cast<unsigned char>(text[at]))) return std::nullopt;
  return count;
}

std::optional<bool> BooleanAfter(std::string_view text, size_t at) {
  while (at < text.size() && IsBlank(text[at])) ++at;
  const std::string_view rest = text.substr(at);
  if (rest.starts_with("true")) return true;
  if (rest.starts_with("false")) return false;
  return std::nullopt;
}

// Every place `key` stands in `setup`, in order.
template <typename Visit>
void EachOccurrence(std::string_view setup, std::string_view key, Visit visit) {
  for (size_t at = setup.find(key); at != std::string_view::npos;
       at = setup.find(key, at + key.size())) {
    visit(at + key.size());
  }
}

// The page device requests of one part of a job, the last of each in it.
struct DeviceRequests {
  std::optional<int32_t> copies;
  std::optional<bool> duplex, tumble;
  std::optional<ColourMode> colour;
};

DeviceRequests ReadDeviceRequests(std::string_view setup) {
  DeviceRequests requests;
  size_t copies_at = 0;
  auto take_copies = [&](size_t at) {
    if (const std::optional<int32_t> count = CountAfter(setup, at); count && at >= copies_at) {
      requests.copies = count;
      copies_at = at;
    }
  };
  // "/NumCopies 2", "/#copies 2 def", and CUPS's "%%BeginNonPPDFeature:
  // NumCopies 2" or "%RBIBeginNonPPDFeature: *NumCopies 2" before the code
  // that sets it on the stack.
  EachOccurrence(setup, "NumCopies", take_copies);
  // "/#copies 2 def" only: "userdict/#copies 3 -1 roll put" moves a value.
  EachOccurrence(setup, "/#copies", [&](size_t at) {
    size_t end = at;
    while (end < setup.size() && (IsBlank(setup[end]) || std::isdigit(static_cast<unsigned char>(setup[end])))) ++end;
    if (setup.substr(end).starts_with("def")) take_copies(at);
  });
  // Duplex as the page device sets it (/Duplex, /Tumble), as a Level 1
  // driver does (statusdict's setduplexmode, settumble), or as the PPD
  // option names it in the feature comment around that code; the last
  // request wins.
  std::optional<bool>& duplex = requests.duplex;
  std::optional<bool>& tumble = requests.tumble;
  size_t duplex_at = 0, tumble_at = 0;
  auto set = [](std::optional<bool>& field, size_t& field_at, bool value, size_t at) {
    if (at < field_at) return;
    field = value;
    field_at = at;
  };
  EachOccurrence(setup, "/Duplex", [&](size_t at) {
    if (const std::optional<bool> value = BooleanAfter(setup, at)) set(duplex, duplex_at, *value, at);
  });
  EachOccurrence(setup, "/Tumble", [&](size_t at) {
    if (const std::optional<bool> value = BooleanAfter(setup, at)) set(tumble, tumble_at, *value, at);
  });
  // "true setduplexmode", "false settumble": the value before the operator.
  auto value_before = [&](size_t at) -> std::optional<bool> {
    const std::string_view before = TrimBlanks(setup.substr(0, at));
    if (before.ends_with("true")) return true;
    if (before.ends_with("false")) return false;
    return std::nullopt;
  };
  EachOccurrence(setup, "setduplexmode", [&](size_t at) {
    const size_t start = at - std::string_view("setduplexmode").size();
    if (const std::optional<bool> value = value_before(start)) set(duplex, duplex_at, *value, at);
  });
  EachOccurrence(setup, "settumble", [&](size_t at) {
    const size_t start = at - std::string_view("settumble").size();
    if (const std::optional<bool> value = value_before(start)) set(tumble, tumble_at, *value, at);
  });
  EachOccurrence(setup, "%%BeginFeature: *Duplex ", [&](size_t at) {
    const std::string_view option = setup.substr(at);
    if (option.starts_with("DuplexNoTumble")) {
      set(duplex, duplex_at, true, at);
      set(tumble, tumble_at, false, at);
    } else if (option.starts_with("DuplexTumble")) {
      set(duplex, duplex_at, true, at);
      set(tumble, tumble_at, true, at);
    } else if (option.starts_with("None")) {
      set(duplex, duplex_at, false, at);
    }
  });
  EachOccurrence(setup, "/ProcessColorModel", [&](size_t at) {
    while (at < setup.size() && IsBlank(setup[at])) ++at;
    const std::string_view model = setup.substr(at);
    if (model.starts_with("/DeviceGray")) requests.colour = ColourMode::kGrayscale;
    if (model.starts_with("/DeviceRGB") || model.starts_with("/DeviceCMYK")) {
      requests.colour = ColourMode::kColour;
    }
  });
  return requests;
}

// The duplex mode the requests ask for, when they ask.
std::optional<DuplexMode> DuplexOf(const std::optional<bool>& duplex,
                                   const std::optional<bool>& tumble) {
  if (!duplex) return std::nullopt;
  return !*duplex ? DuplexMode::kSimplex
                  : tumble.value_or(false) ? DuplexMode::kShortEdge : DuplexMode::kLongEdge;
}

}  // namespace

PdlIntent PostScriptIntent(std::string_view head) {
  PdlIntent intent;
  // The header comments.
  size_t line_start = 0;
  for (size_t line = 0; line < kMaxHeaderLines && line_start < head.size(); ++line) {
    size_t end = head.find('\n', line_start);
    if (end == std::string_view::npos) end = head.size();
    const std::string_view text = head.substr(line_start, end - line_start);
    line_start = end + 1;
    if (text.starts_with("%%EndComments")) break;
    if (text.starts_with("%%For:") && !intent.user) intent.user = CommentValue(text.substr(6));
    if (text.starts_with("%%Title:") && !intent.title) intent.title = CommentValue(text.substr(8));
  }
  if (intent.user && intent.user->empty()) intent.user.reset();
  if (intent.title && intent.title->empty()) intent.title.reset();

  // The setup: everything before the first page.
  std::string_view setup = head;
  const size_t first_page = head.find("\n%%Page:");
  if (first_page != std::string_view::npos) setup = head.substr(0, first_page);
  const DeviceRequests job = ReadDeviceRequests(setup);
  intent.copies = job.copies;
  intent.colour = job.colour;
  intent.duplex = DuplexOf(job.duplex, job.tumble);

  // The pages: each section from its %%Page comment to the next (or the
  // trailer), with what the setup and the pages before it asked.
  DeviceRequests state = job;
  for (size_t page = first_page; page != std::string_view::npos;) {
    const size_t next = head.find("\n%%Page:", page + 1);
    std::string_view section =
        head.substr(page, next == std::string_view::npos ? std::string_view::npos : next - page);
    if (const size_t trailer = section.find("\n%%Trailer"); trailer != std::string_view::npos) {
      section = section.substr(0, trailer);
    }
    const DeviceRequests own = ReadDeviceRequests(section);
    if (own.copies) state.copies = own.copies;
    if (own.duplex) state.duplex = own.duplex;
    if (own.tumble) state.tumble = own.tumble;
    intent.pages.push_back({DuplexOf(state.duplex, state.tumble), state.copies});
    page = next;
  }
  return intent;
}

}  // namespace quillaro

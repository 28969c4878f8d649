#include "report/pjl_attributes.h"

#include <string_view>

#include "inspect/language_detection.h"
#include "inspect/text_mode_reader.h"

namespace quillaro {
namespace {

constexpr int kMaxHeaderLines = 100;
// Names and numbers are a few bytes; a longer line is cut here.
constexpr size_t kMaxLineBytes = 4096;

std::string Upper(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
    text.remove_suffix(1);
  }
  return text;
}

// The value after "=" in `line` following `keyword` (upper case), when the
// line holds the keyword as a whole word: "JOB NAME" in "@PJL JOB NAME=x".
// A quoted value ends at its closing quote, so "START=1" after it is not
// part of the name.
std::optional<std::string> ValueOf(std::string_view line, std::string_view keyword) {
  const std::string upper = Upper(line);
  const size_t at = upper.find(keyword);
  if (at == std::string::npos) return std::nullopt;
  std::string_view rest = Trim(line.substr(at + keyword.size()));
  if (rest.empty() || rest.front() != '=') return std::nullopt;
  rest = Trim(rest.substr(1));
  if (!rest.empty() && rest.front() == '"') {
    rest.remove_prefix(1);
    const size_t close = rest.find('"');
    if (close != std::string_view::npos) rest = rest.substr(0, close);
  } else {
    const size_t blank = rest.find_first_of(" \t");
    if (blank != std::string_view::npos) rest = rest.substr(0, blank);
  }
  return std::string(rest);
}

void TakeFirst(std::optional<std::string>& field, std::string_view line, std::string_view keyword) {
  if (!field) field = ValueOf(line, keyword);
}

}  // namespace

bool PjlAttributes::duplex_on() const { return duplex && Upper(*duplex) == "ON"; }
bool PjlAttributes::short_edge() const { return binding && Upper(*binding) == "SHORTEDGE"; }

std::optional<int32_t> PjlCount(const std::optional<std::string>& value) {
  if (!value) return std::nullopt;
  const std::string_view text = Trim(*value);
  if (text.empty() || text.size() > 4) return std::nullopt;
  int32_t count = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    count = count * 10 + (c - '0');
  }
  if (count < 1) return std::nullopt;
  return count;
}

PjlAttributes ReadPjlAttributes(const std::string& path) {
  PjlAttributes attributes;
  if (HasUel(path) == 0) return attributes;
  TextModeReader reader;
  if (!reader.Open(path)) return attributes;
  for (int count = 0; count < kMaxHeaderLines && reader.NextLine(); ++count) {
    std::string line;
    while (line.size() < kMaxLineBytes) {
      const std::string_view piece = reader.LinePiece(kMaxLineBytes - line.size());
      if (piece.empty()) break;
      line.append(piece);
    }
    const std::string upper = Upper(line);
    if (upper.find("@PJL") == std::string::npos) continue;
    if (upper.find("ENTER LANGUAGE") != std::string::npos) break;
    TakeFirst(attributes.job_name, line, "@PJL JOB NAME");
    TakeFirst(attributes.set_jobname, line, "SET JOBNAME");
    TakeFirst(attributes.user_name, line, "SET USERNAME");
    TakeFirst(attributes.duplex, line, "SET DUPLEX");
    TakeFirst(attributes.binding, line, "SET BINDING");
    TakeFirst(attributes.paper, line, "SET PAPER");
    TakeFirst(attributes.resolution, line, "SET RESOLUTION");
    TakeFirst(attributes.qty, line, "SET QTY");
    TakeFirst(attributes.copies, line, "SET COPIES");
    TakeFirst(attributes.rendermode, line, "SET RENDERMODE");
    TakeFirst(attributes.grayscale, line, "SET GRAYSCALE");
    if (const std::optional<std::string> field = ValueOf(line, "SET JOBATTR")) {
      // "JobAcct1=alice": the field's name, then its value.
      const size_t equals = field->find('=');
      if (equals != std::string::npos) {
        const std::string name = Upper(Trim(std::string_view(*field).substr(0, equals)));
        const std::string value(Trim(std::string_view(*field).substr(equals + 1)));
        if (name == "JOBACCT1" && !attributes.job_account_user && !value.empty())
          attributes.job_account_user = value;
        if (name == "JOBACCT2" && !attributes.job_account_host && !value.empty())
          attributes.job_account_host = value;
      }
    }
  }
  return attributes;
}

}  // namespace quillaro

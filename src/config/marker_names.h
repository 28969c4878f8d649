#ifndef QUILLARO_CONFIG_MARKER_NAMES_H_
#define QUILLARO_CONFIG_MARKER_NAMES_H_

#include <string>
#include <string_view>

namespace quillaro {

// The endings of the completion markers a job leaves in out/: NAME_done for
// a job, NAME_watermark_done_ok or NAME_watermark_done_error for one of the
// watermark route.
inline constexpr char16_t kDoneMarkerSuffix[] = u"_done";
inline constexpr char16_t kWatermarkOkMarkerSuffix[] = u"_watermark_done_ok";
inline constexpr char16_t kWatermarkErrorMarkerSuffix[] = u"_watermark_done_error";

// The file name of the marker with `suffix` for the job named `job_name`:
// `job_name` + `suffix`, unless that is too long for a file name (a job name
// may itself be as long as the system allows). Such a name is shortened:
// the longest head of `job_name` that leaves room (never splitting a
// character), "~", the 16 lower-case hex digits of the 64-bit FNV-1a hash of
// the whole job name (its bytes as in/ lists them), then `suffix`. The hash
// keeps two long names with a common head apart; a client finds the marker
// by the same rule. Pure; any thread.
std::u16string MarkerFileName(const std::u16string& job_name, std::u16string_view suffix);

}  // namespace quillaro

#endif  // QUILLARO_CONFIG_MARKER_NAMES_H_

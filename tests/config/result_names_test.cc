#include "config/result_names.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "config/text_utils.h"
#include "platform/file_system.h"

namespace quillaro {
namespace {

std::string Marker(const std::string& job_name, std::u16string_view suffix) {
  return ToNarrow(MarkerFileName(ToWide(job_name), suffix));
}

// A name that leaves room keeps its marker as it always was; a longer one gets a marker that
// fits, keeps as much of the name as it can, and is told apart from another long name with the
// same head by the hash of the whole name.
TEST(MarkerNamesTest, ShortensOnlyMarkersThatCannotBeFileNames) {
  const std::string fits(255 - 5, 'a');
  EXPECT_EQ(Marker(fits, kDoneMarkerSuffix), fits + "_done");
  EXPECT_EQ(Marker("a.pcl", kWatermarkErrorMarkerSuffix), "a.pcl_watermark_done_error");

  const std::string head(250, 'b');
  for (std::u16string_view suffix :
       {std::u16string_view(kDoneMarkerSuffix), std::u16string_view(kWatermarkOkMarkerSuffix),
        std::u16string_view(kWatermarkErrorMarkerSuffix)}) {
    const std::string one = Marker(head + "1.ps", suffix), two = Marker(head + "2.ps", suffix);
    const std::string ending = ToNarrow(std::u16string(suffix));
    EXPECT_EQ(one.size(), 255u) << one;
    EXPECT_TRUE(std::regex_match(one, std::regex("b+~[0-9a-f]{16}" + ending))) << one;
    EXPECT_NE(one, two);
    EXPECT_EQ(one, Marker(head + "1.ps", suffix));  // the same job always gets the same marker
  }
  // Cut between characters, never inside one: 300 "é" are too long everywhere (600 bytes of
  // UTF-8, 300 UTF-16 units).
  const std::u16string wide_name(300, u'\u00E9');
  const std::string cut = Marker(ToNarrow(wide_name), kDoneMarkerSuffix);
  EXPECT_TRUE(FileNameFits(cut));
  const std::u16string kept = ToWide(cut.substr(0, cut.find('~')));
  EXPECT_EQ(kept, wide_name.substr(0, kept.size())) << cut;
  EXPECT_GT(kept.size(), 100u);
}

}  // namespace
}  // namespace quillaro

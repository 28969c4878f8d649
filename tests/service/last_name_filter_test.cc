#include "service/last_name_filter.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "config/text_utils.h"
#include "support/temp_dir.h"

namespace quillaro {
namespace {

using testing::TempDir;

TEST(LastNameFilterTest, DispatchesOnlyTheFirstOfRepeatsAndOnlyExistingPaths) {
  TempDir dir;
  testing::WriteFileBytes(dir.path() / "a.pcl", "a");
  testing::WriteFileBytes(dir.path() / "b.pcl", "b");
  testing::WriteFileBytes(dir.path() / "B.PCL", "B");
  std::filesystem::create_directory(dir.path() / "folder");
  auto path = [&](const char* name) { return ToWide(dir.File(name)); };

  struct Step {
    std::u16string path;
    bool dispatched;
  } steps[] = {
      {path("a.pcl"), true},    // added
      {path("a.pcl"), false},   // modified: same as the last name
      {path("b.pcl"), true},
      {path("B.PCL"), true},    // exact comparison: another name
      {path("a.pcl"), true},    // another path came in between
      {path("gone.pcl"), false},  // removed or the old half of a rename
      {path("a.pcl"), true},    // the vanished path still reset the last name
      {path("folder"), true},   // a folder counts as existing
      {u"", false},             // Pop found no record
      {u"", false},
  };
  LastNameFilter filter;
  for (const Step& step : steps) {
    EXPECT_EQ(filter.Accept(step.path), step.dispatched) << ToNarrow(step.path);
    EXPECT_EQ(filter.last_name(), step.path);
  }
}

}  // namespace
}  // namespace quillaro
